// The application folder tree as the control walks it: a folder's name, its parent, its
// sub-folders and the names and identities of its applications. The session's catalogue
// provides it; whoever walks it never owns a folder.
#pragma once

#include <string>

namespace vantrel {

class IAppFolder {
 public:
  virtual ~IAppFolder() = default;
  virtual std::string GetName() const = 0;
  virtual const IAppFolder* GetParent() const = 0;
  virtual int ChildCount() const = 0;
  // prmIndex in 0 .. ChildCount() - 1.
  virtual const IAppFolder* Child(int prmIndex) const = 0;
  virtual int AppCount() const = 0;
  // prmIndex in 0 .. AppCount() - 1.
  virtual std::string AppName(int prmIndex) const = 0;
  virtual std::string AppID(int prmIndex) const = 0;
};

}  // namespace vantrel
