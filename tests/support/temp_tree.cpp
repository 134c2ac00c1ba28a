#include "support/temp_tree.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace bqtest {

namespace {
int removeEntry(const char* p, const struct stat*, int, struct FTW*) {
  ::remove(p);
  return 0;
}
} // namespace

void removeTree(const std::string& path) {
  ::nftw(path.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS);
}

TempTree::TempTree() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/bqtest.XXXXXX";
  if (!::mkdtemp(&tmpl[0]))
    throw std::runtime_error("mkdtemp failed");
  m_root = tmpl;
}

TempTree::~TempTree() {
  // Restore permissions a test may have removed, then delete.
  ::chmod(m_root.c_str(), 0700);
  removeTree(m_root);
}

void TempTree::mkdir(const std::string& rel) const {
  std::string cur = m_root;
  std::stringstream ss(rel);
  std::string part;
  while (std::getline(ss, part, '/')) {
    if (part.empty())
      continue;
    cur += "/" + part;
    ::mkdir(cur.c_str(), 0777);
  }
}

void TempTree::write(const std::string& rel, const std::string& bytes) const {
  const std::size_t slash = rel.rfind('/');
  if (slash != std::string::npos)
    mkdir(rel.substr(0, slash));
  std::ofstream out(path(rel), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string TempTree::read(const std::string& absPath) {
  std::ifstream in(absPath, std::ios::binary);
  if (!in)
    return "<missing>";
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

} // namespace bqtest
