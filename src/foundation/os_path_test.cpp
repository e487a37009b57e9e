#include "foundation/os_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "testing/test_util.h"

namespace {

// Each case sets its own prefix and removes it at the end.
class ChrootPrefix {
 public:
  explicit ChrootPrefix(const char* p) { EXPECT_EQ(s_set_chroot_path(p), 0); }
  ~ChrootPrefix() { (void)s_set_chroot_path(nullptr); }
};

TEST(AdjustPath, RewritesAbsolutePathsUnderThePrefix) {
  struct Case {
    const char* prefix;
    const char* path;
    const char* want;
  } cases[] = {
      {"/jail", "/etc/x", "/jail/etc/x"},
      {"/jail", "//etc/x", "/jail/etc/x"},
      {"/jail", "///etc/x", "/jail/etc/x"},
      {"/jail", "rel/x", "rel/x"},
      {"/jail/", "/etc/x", "/jail/etc/x"},
      {"", "/etc/x", "/etc/x"},
      {"/", "/etc/x", "/etc/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.prefix) + " + " + c.path);
    ChrootPrefix prefix(c.prefix);
    char buf[kPathBufferSize];
    const char* got = s_adjust_path(buf, sizeof(buf), c.path);
    ASSERT_NE(got, nullptr);
    EXPECT_STREQ(got, c.want);
  }
  EXPECT_EQ(s_get_chroot_path(), nullptr);
}

TEST(AdjustPath, APrefixPlusALongPathIsRefusedNotCut) {
  ChrootPrefix prefix("/jail");
  char buf[kPathBufferSize];
  // "/jail" + path + NUL must fit in 4096 bytes: 4090 characters fit, 4091 do not.
  std::string fits = "/" + std::string(4089, 'a');
  const char* got = s_adjust_path(buf, sizeof(buf), fits.c_str());
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::string(got), "/jail" + fits);
  std::string tooLong = fits + "b";
  errno = 0;
  EXPECT_EQ(s_adjust_path(buf, sizeof(buf), tooLong.c_str()), nullptr);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_STREQ(buf, "");
  // The file functions refuse it the same way instead of touching a
  // shortened name.
  errno = 0;
  EXPECT_EQ(s_fopen(tooLong.c_str(), "r"), nullptr);
  EXPECT_EQ(errno, ENAMETOOLONG);
  struct stat st;
  EXPECT_EQ(s_stat(tooLong.c_str(), &st, true), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(s_remove_path(tooLong.c_str()), 34);
  // A prefix that cannot fit is refused and the old one stays.
  std::string hugePrefix = "/" + std::string(5000, 'p');
  EXPECT_EQ(s_set_chroot_path(hugePrefix.c_str()), -1);
  EXPECT_STREQ(s_get_chroot_path(), "/jail");
}

TEST(AdjustPath, FileFunctionsWorkUnderThePrefix) {
  orvtest::TempDir dir;
  ChrootPrefix prefix(dir.path().c_str());
  ASSERT_EQ(s_mkdir("/etc", 0755), 0);
  FILE* f = s_fopen("/etc/x", "w");
  ASSERT_NE(f, nullptr);
  std::fputs("hello", f);
  std::fclose(f);
  EXPECT_EQ(orvtest::readFile(dir.file("etc/x")), "hello");
  EXPECT_EQ(s_rename("/etc/x", "/etc/y"), 0);
  EXPECT_EQ(s_access("/etc/y", R_OK), 0);
  EXPECT_EQ(s_symlink("/etc/y", "/etc/link"), 0);
  char target[256] = {};
  ASSERT_GT(::readlink(dir.file("etc/link").c_str(), target, sizeof(target) - 1), 0);
  EXPECT_STREQ(target, "/etc/y");  // a symbolic link keeps its text
  EXPECT_EQ(s_link("/etc/y", "/etc/hard"), 0);
  EXPECT_EQ(s_link("/etc/missing", "/etc/hard2"), -1);
  EXPECT_EQ(s_setTLM("/etc/y", 1500000000123LL), 0);
  struct stat st;
  ASSERT_EQ(s_stat("/etc/y", &st, true), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123000000);
  EXPECT_EQ(s_remove_path("/etc"), 0);
  EXPECT_NE(::access(dir.file("etc").c_str(), F_OK), 0);
}

TEST(GetChroot, ReadsTheKeyFromTheConfigurationFile) {
  orvtest::TempDir home;
  ASSERT_EQ(::mkdir(home.file("security").c_str(), 0755), 0);
  orvtest::writeFile(home.file("security/chroot.conf"),
                     "# comment: no\n"
                     "/abs: no\n"
                     "\n"
                     "nocolon here\n"
                     "   agent:   /srv/jail  \r\n"
                     "other:/x\n"
                     "empty:\n"
                     "long:" + std::string(200, 'v') + "\n");
  struct Case {
    const char* name;
    int want;
    const char* value;
  } cases[] = {
      {"agent", 0, "/srv/jail  "}, {"other", 0, "/x"}, {"empty", 0, ""},   {"missing", -1, nullptr},
      {"comment", -1, nullptr},    {"/abs", -1, nullptr}, {"nocolon here", -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char dst[64] = "untouched";
    EXPECT_EQ(s_getchroot(dst, sizeof(dst), home.path().c_str(), c.name), c.want);
    EXPECT_STREQ(dst, c.want == 0 ? c.value : "untouched");
  }
  char small[64] = "untouched";
  EXPECT_EQ(s_getchroot(small, sizeof(small), home.path().c_str(), "long"), -1);  // refused, not cut
  EXPECT_STREQ(small, "untouched");
  char dst[8];
  EXPECT_EQ(s_getchroot(dst, sizeof(dst), "/nonexistent-home", "agent"), -1);
}

TEST(RemovePath, RemovesATreeWithoutFollowingLinksOut) {
  orvtest::TempDir dir;
  std::string outside = dir.file("outside");
  ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
  orvtest::writeFile(outside + "/keep", "keep");
  std::string tree = dir.file("tree");
  ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((tree + "/a").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((tree + "/a/b").c_str(), 0755), 0);
  orvtest::writeFile(tree + "/a/b/f", "x");
  orvtest::writeFile(tree + "/g", "y");
  ASSERT_EQ(::symlink(outside.c_str(), (tree + "/a/out").c_str()), 0);
  EXPECT_EQ(s_remove_path(tree.c_str()), 0);
  EXPECT_NE(::access(tree.c_str(), F_OK), 0);
  EXPECT_EQ(orvtest::readFile(outside + "/keep"), "keep");
  EXPECT_EQ(s_remove_path(tree.c_str()), 15);
  EXPECT_EQ(s_remove_path((outside + "/keep").c_str()), 0);  // a plain file
}

TEST(ChownRecursively, ReownsTheTreeAndLinksButNotTheirTargets) {
  orvtest::TempDir dir;
  std::string tree = dir.file("tree");
  ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
  orvtest::writeFile(tree + "/f", "x");
  orvtest::writeFile(dir.file("target"), "t");
  ASSERT_EQ(::symlink(dir.file("target").c_str(), (tree + "/link").c_str()), 0);
  struct stat before;
  ASSERT_EQ(::stat(dir.file("target").c_str(), &before), 0);
  uid_t uid = ::getuid() == 0 ? 4321 : ::getuid();
  gid_t gid = ::getuid() == 0 ? 4321 : ::getgid();
  EXPECT_EQ(s_chown_recursively(tree.c_str(), uid, gid), 0);
  struct stat st;
  ASSERT_EQ(::stat((tree + "/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  ASSERT_EQ(::lstat((tree + "/link").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  ASSERT_EQ(::stat(dir.file("target").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, before.st_uid);
  EXPECT_EQ(s_chown_recursively(dir.file("missing").c_str(), uid, gid), 15);
}

TEST(AccessAs, ChecksTheModeBitsForAnotherUser) {
  orvtest::TempDir dir;
  std::string f = dir.file("f");
  orvtest::writeFile(f, "x");
  // Group 0 would end the zero-terminated group list: give the file another.
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(f.c_str(), 4321, 4321), 0);
  }
  struct stat st;
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  uid_t owner = st.st_uid;
  gid_t group = st.st_gid;
  gid_t groups[] = {777, group, 0};
  gid_t noGroups[] = {777, 0};
  struct Case {
    mode_t mode;
    int want;
    uid_t uid;
    gid_t gid;
    const gid_t* groups;
    int expect;
  } cases[] = {
      {0640, R_OK, owner, 1, nullptr, 0},           {0040, R_OK, owner + 1, group, nullptr, 0},
      {0040, R_OK, owner + 1, 999, groups, 0},      {0040, R_OK, owner + 1, 999, noGroups, -1},
      {0004, R_OK, owner + 1, 999, nullptr, 0},     {0600, W_OK, owner + 1, 999, nullptr, -1},
      {0700, R_OK | W_OK | X_OK, owner, 1, nullptr, 0}, {0400, W_OK, owner, 1, nullptr, -1},
      {0000, X_OK, 0, 0, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(::chmod(f.c_str(), c.mode), 0);
    EXPECT_EQ(s_access_as(f.c_str(), c.want, c.uid, c.gid, c.groups), c.expect);
  }
  EXPECT_EQ(s_access_as(dir.file("missing").c_str(), R_OK, 0, 0, nullptr), -1);
}

}  // namespace
