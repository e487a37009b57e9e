// libcreds_buggy_nss.so: preloaded into a credential child by the tests, it
// makes getgrgid_r behave like the name-service module the libnss-sss
// work-around exists for: when the caller's buffer is too small it still
// fills in the group's gid and name (if the name fits) and sets *result,
// yet answers ERANGE.
#include <dlfcn.h>
#include <errno.h>
#include <grp.h>
#include <string.h>

#include <vector>

namespace {

using GetgrgidR = int (*)(gid_t, struct group*, char*, size_t, struct group**);

GetgrgidR next() {
  static GetgrgidR fn = reinterpret_cast<GetgrgidR>(dlsym(RTLD_NEXT, "getgrgid_r"));
  return fn;
}

}  // namespace

extern "C" int getgrgid_r(gid_t gid, struct group* grp, char* buf, size_t buflen, struct group** result) {
  GetgrgidR real = next();
  if (real == nullptr) return ENOSYS;
  const int rc = real(gid, grp, buf, buflen, result);
  if (!(rc == ERANGE || (rc < 0 && errno == ERANGE))) return rc;
  std::vector<char> big(1 << 20);
  struct group full;
  struct group* found = nullptr;
  if (real(gid, &full, big.data(), big.size(), &found) != 0 || found == nullptr) return rc;
  const size_t n = strlen(full.gr_name) + 1;
  if (n > buflen) return rc;
  memcpy(buf, full.gr_name, n);
  grp->gr_name = buf;
  grp->gr_passwd = buf + n - 1;
  grp->gr_gid = full.gr_gid;
  grp->gr_mem = nullptr;
  *result = grp;
  return ERANGE;
}
