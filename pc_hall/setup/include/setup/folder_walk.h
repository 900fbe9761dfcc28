// The deleting folder walks of the PC hall. None of them walks a path of
// three characters or fewer (a drive root such as "C:\"), and none follows a
// folder link (junction or symbolic link) out of the tree it was given: the
// link itself is removed or left, never its target's content. Blocking; any
// thread.
#pragma once

#include <string>
#include <vector>

namespace zv {

// File names a walk leaves in place, compared ignoring case.
class KeptFileNames {
 public:
  void Add(const std::wstring& name);
  bool Contains(const std::wstring& name) const;
  bool empty() const { return names_.empty(); }

 private:
  std::vector<std::wstring> names_;
};

// True when a walk may touch path: longer than three characters.
bool IsWalkablePath(const std::wstring& path);

// Deletes every file below path except the kept ones. With keep given the
// folders stay and the answer is true; without it the folders are removed
// too (each up to 10 tries, 100 ms apart) and the answer says whether path
// itself is gone.
bool DeleteTree(const std::wstring& path, const KeptFileNames* keep);

// The uninstall walk: folders named gameName (ignoring case) are walked the
// same way and stay, every other folder is removed whole, and files other
// than the kept ones are deleted.
bool ClearGameFolder(const std::wstring& path, const std::wstring& gameName, const KeptFileNames& keep);

// Deletes folder with everything in it; failures are skipped, not retried.
bool RemoveTree(const std::wstring& folder);

}  // namespace zv
