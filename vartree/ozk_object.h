// COzkObject: the small run-time-typed base of CtVar and other library classes.
//
// Each class that takes part declares a static OzkRuntimeClass naming its base; IsKindOf walks
// that chain. Deleting through a COzkObject pointer deletes the whole object.
#pragma once

#include <cstddef>

struct OzkRuntimeClass {
  const char* class_name;
  const OzkRuntimeClass* base;
};

class COzkObject {
 public:
  static const OzkRuntimeClass classCOzkObject;

  virtual const OzkRuntimeClass* GetRuntimeClass() const { return &classCOzkObject; }
  virtual ~COzkObject() = default;

  bool IsKindOf(const OzkRuntimeClass* cls) const;

  static void* operator new(size_t size);
  static void operator delete(void* p);
};

// Inside a class body: the class's runtime descriptor and its GetRuntimeClass override.
#define OZK_DECLARE_RUNTIME_CLASS(cls)                      \
 public:                                                    \
  static const OzkRuntimeClass class##cls;                  \
  const OzkRuntimeClass* GetRuntimeClass() const override { \
    return &class##cls;                                     \
  }

#define OZK_IMPLEMENT_RUNTIME_CLASS(cls, base) \
  const OzkRuntimeClass cls::class##cls = {#cls, &base::class##base};

#define OZK_RUNTIME_CLASS(cls) (&cls::class##cls)
