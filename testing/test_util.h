// Small helpers shared by the unit tests. Not thread-safe unless noted.
#pragma once

#include <string>

namespace orvtest {

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `text` to `path`, replacing the file. Fails the current test on error.
void writeFile(const std::string& path, const std::string& text);

// The whole file, or an empty text when it cannot be read.
std::string readFile(const std::string& path);

// Directory of the test data files (tests/ in the source tree).
std::string dataDir();

}  // namespace orvtest
