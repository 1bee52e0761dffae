#include "vartree/ozk_object.h"

#include <new>

const OzkRuntimeClass COzkObject::classCOzkObject = {"COzkObject", nullptr};

bool COzkObject::IsKindOf(const OzkRuntimeClass* cls) const {
  for (const OzkRuntimeClass* c = GetRuntimeClass(); c != nullptr; c = c->base) {
    if (c == cls) return true;
  }
  return false;
}

void* COzkObject::operator new(size_t size) {
  return ::operator new(size);
}
void COzkObject::operator delete(void* p) {
  ::operator delete(p);
}
