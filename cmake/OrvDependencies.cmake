# The real libraries the module is built on, all from Debian's packages.
# A second JDK may be installed beside 17: pin the one the module is made for.
set(JAVA_HOME "/usr/lib/jvm/java-17-openjdk-amd64" CACHE PATH "JDK the module is built and tested with")
set(ENV{JAVA_HOME} "${JAVA_HOME}")
find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
find_package(JNI REQUIRED COMPONENTS JVM)
include(UseJava)

find_package(Threads REQUIRED)
find_package(OpenSSL 3.0 REQUIRED)
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ONIG     REQUIRED IMPORTED_TARGET oniguruma)
pkg_check_modules(OSSPUUID REQUIRED IMPORTED_TARGET ossp-uuid)
pkg_check_modules(ICU      REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(PAM      REQUIRED IMPORTED_TARGET pam)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(pam_wrapper)
find_package(nss_wrapper)
find_package(uid_wrapper)

# The companion jar that the Java side logs through; copied into the home.
find_file(ORV_COMMONS_LOGGING_JAR commons-logging.jar PATHS /usr/share/java NO_DEFAULT_PATH)
