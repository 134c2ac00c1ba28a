#include "support/temp_tree.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace bqtest {

void removeTree(const std::string& path) {
  ::nftw(path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) {
    ::remove(p);
    return 0;
  }, 64, FTW_DEPTH | FTW_PHYS);
}

TempTree::TempTree() {
  const char* base = std::getenv("TMPDIR");
  m_root = std::string(base && *base ? base : "/tmp") + "/bqtest.XXXXXX";
  if (!::mkdtemp(&m_root[0]))
    throw std::runtime_error("mkdtemp failed");
}

TempTree::~TempTree() {
  ::chmod(m_root.c_str(), 0700); // a test may have taken it away
  removeTree(m_root);
}

void TempTree::mkdir(const std::string& rel) const {
  for (std::size_t end = 0; end != std::string::npos;)
    ::mkdir(path(rel.substr(0, end = rel.find('/', end + 1))).c_str(), 0777);
}

void TempTree::write(const std::string& rel, const std::string& bytes) const {
  if (rel.find('/') != std::string::npos)
    mkdir(rel.substr(0, rel.rfind('/')));
  std::ofstream(path(rel), std::ios::binary | std::ios::trunc) << bytes;
}

std::string TempTree::read(const std::string& absPath) {
  std::ifstream in(absPath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return in ? out.str() : "<missing>";
}

} // namespace bqtest
