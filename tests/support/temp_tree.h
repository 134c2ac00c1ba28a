// Scratch directories for file-system tests.
//
//   bqtest::TempTree t;                 // fresh directory under $TMPDIR or /tmp
//   t.mkdir("a/b");                     // parents made as needed
//   t.write("a/b/f.txt", "hello");
//   std::string p = t.path("a/b/f.txt");
//   // removed with everything below it when t goes out of scope
#ifndef BRACKWELL_TESTS_TEMP_TREE_H
#define BRACKWELL_TESTS_TEMP_TREE_H

#include <string>

namespace bqtest {

class TempTree {
public:
  TempTree();
  ~TempTree();
  TempTree(TempTree const&) = delete;
  TempTree& operator=(TempTree const&) = delete;

  const std::string& root() const { return m_root; }
  std::string path(const std::string& rel) const { return m_root + "/" + rel; }
  // Creates the directory rel (and its parents).
  void mkdir(const std::string& rel) const;
  // Creates or replaces the file rel with the given bytes (parents made).
  void write(const std::string& rel, const std::string& bytes) const;
  // Reads a whole file; "<missing>" when it cannot be opened.
  static std::string read(const std::string& absPath);

private:
  std::string m_root;
};

// Removes a tree without using the library (nftw, no links followed).
void removeTree(const std::string& path);

} // namespace bqtest

#endif // BRACKWELL_TESTS_TEMP_TREE_H
