// Sourcing script files: every ".js" file of a directory tree is parsed and
// executed against a caller's variable set.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "foundation/log.h"
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "model/dir_error.h"

namespace {

using DirectoryId = std::pair<dev_t, ino_t>;

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWithJs(const std::string& name) {
  return name.size() > 3 && name.compare(name.size() - 3, 3, ".js") == 0;
}

// `open` holds the directories being read further up, so that a link back
// to one of them cannot make the walk endless.
int sourcePath(const Principal* principal, AbstractVarSet* varSet, const std::string& path,
               const std::string& relativeName, std::set<DirectoryId>& open) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    int err = DirError::fromPosix(errno);
    log(0, "Unable to source files from: %s", path.c_str());
    return err;
  }
  if (S_ISDIR(st.st_mode)) {
    DirectoryId id{st.st_dev, st.st_ino};
    if (!open.insert(id).second) return 0;  // already being read further up
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
      int err = DirError::fromPosix(errno);
      log(0, "Unable to source files in directory: %s", path.c_str());
      open.erase(id);
      return err;
    }
    // Entries run in name order, so that a tree of scripts always runs the
    // same way whatever order the file system lists them in.
    std::vector<std::string> names;
    while (struct dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::string relative = relativeName.empty() ? name : relativeName + "/" + name;
      (void)sourcePath(principal, varSet, path + "/" + name, relative, open);
    }
    open.erase(id);
    return 0;
  }
  if (!S_ISREG(st.st_mode) || !endsWithJs(baseName(path))) return 0;

  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in.is_open()) text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    log(0, "Unable to source file: %s", (relativeName.empty() ? baseName(path) : relativeName).c_str());
    return 0;
  }
  MemoryFile trace;
  MemoryFile output;
  Parser parser(path.c_str(), text.str(), nullptr, 1, 0, false);
  parser.setTraceStream(&trace);
  parser.setStandardOutput(&output);
  if (!parser.parseScript() || parser.executeScript(principal, varSet) == 0) {
    const Error* error = parser.getError();
    log(0, "%s\n", error != nullptr ? error->text().c_str() : "Error: the script failed");
  }
  return 0;
}

}  // namespace

int Parser::source(const Principal* principal, AbstractVarSet* varSet, const char* path) {
  return source(principal, varSet, path, "");
}

int Parser::source(const Principal* principal, AbstractVarSet* varSet, const char* path,
                   const char* relativeName) {
  if (path == nullptr) return DirError::ILLEGAL_ARGUMENT;
  std::set<DirectoryId> open;
  return sourcePath(principal, varSet, path, relativeName != nullptr ? relativeName : "", open);
}
