// The two memory helpers the compiler may call on its own (for structure copies and zeroing);
// the module links no C runtime to supply them. Written as byte loops the optimiser must not
// turn back into calls to themselves.
#include <stddef.h>

extern "C" {

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memset(void *target, int value,
                                                                           size_t count) {
  unsigned char *p = static_cast<unsigned char *>(target);
  while (count--) *p++ = static_cast<unsigned char>(value);
  return target;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void *memcpy(void *target,
                                                                           const void *source,
                                                                           size_t count) {
  unsigned char *p = static_cast<unsigned char *>(target);
  const unsigned char *q = static_cast<const unsigned char *>(source);
  while (count--) *p++ = *q++;
  return target;
}
}
