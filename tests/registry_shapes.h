// Registry data in every shape a user, an old tool or a broken installer might leave behind:
// each value type the registry knows, sizes around four bytes, and huge values. Every shape's
// bytes would read as a plausible number if the reader ignored the type.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wintest {

struct RegistryShape {
  std::string name;
  DWORD type;
  std::vector<BYTE> bytes;
};

inline std::vector<BYTE> Bytes(const char *text, size_t size) {
  return std::vector<BYTE>(text, text + size);
}

// The value `number` would have as a REG_DWORD, in every other shape.
inline std::vector<RegistryShape> ShapesOtherThanDword(BYTE number) {
  const char digit[] = {static_cast<char>('0' + number), 0, 0, 0};
  const BYTE little[] = {number, 0, 0, 0, 0, 0, 0, 0};
  const BYTE big[] = {0, 0, 0, number};
  std::vector<RegistryShape> shapes = {
      {"REG_SZ", REG_SZ, Bytes(digit, 2)},
      {"REG_SZ without terminator", REG_SZ, Bytes(digit, 1)},
      {"empty REG_SZ", REG_SZ, Bytes(digit + 1, 1)},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, Bytes("%Q%", 4)},
      {"REG_MULTI_SZ", REG_MULTI_SZ, Bytes(digit, 3)},
      {"REG_QWORD", REG_QWORD, std::vector<BYTE>(little, little + 8)},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, std::vector<BYTE>(big, big + 4)},
      {"REG_NONE of four bytes", REG_NONE, std::vector<BYTE>(little, little + 4)},
      {"empty REG_NONE", REG_NONE, {}},
      {"REG_LINK", REG_LINK, std::vector<BYTE>(little, little + 4)},
      {"REG_RESOURCE_LIST", REG_RESOURCE_LIST, std::vector<BYTE>(little, little + 4)},
      {"unknown type 0x7F", 0x7F, std::vector<BYTE>(little, little + 4)},
      {"huge REG_SZ", REG_SZ, std::vector<BYTE>(65536, '7')},
      {"huge REG_BINARY", REG_BINARY, std::vector<BYTE>(1 << 20, number)},
  };
  for (size_t size = 0; size <= 16; ++size) {
    std::vector<BYTE> data(size, 0);
    if (size > 0) data[0] = number;
    shapes.push_back({"REG_BINARY of " + std::to_string(size) + " bytes", REG_BINARY, data});
  }
  for (size_t size : {0u, 1u, 2u, 3u, 5u, 8u, 16u, 65536u}) {
    std::vector<BYTE> data(size, 0);
    if (size > 0) data[0] = number;
    shapes.push_back({"REG_DWORD of " + std::to_string(size) + " bytes", REG_DWORD, data});
  }
  return shapes;
}

inline LONG StoreShape(HKEY key, const char *name, const RegistryShape &shape) {
  return RegSetValueExA(key, name, 0, shape.type, shape.bytes.empty() ? NULL : shape.bytes.data(),
                        static_cast<DWORD>(shape.bytes.size()));
}

// Deletes a key with everything under it.
inline void DeleteKeyTree(HKEY root, const char *path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    char name[256];
    while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS) DeleteKeyTree(key, name);
    RegCloseKey(key);
  }
  RegDeleteKeyA(root, path);
}

// Takes read access to a key away from everyone for the object's lifetime, and then gives the
// key its own access list back. Writing, deleting and changing the list stay allowed.
class ReadingDenied {
 public:
  ReadingDenied(HKEY root, const char *path) {
    if (RegOpenKeyExA(root, path, 0, READ_CONTROL | WRITE_DAC, &key_) != ERROR_SUCCESS) return;
    DWORD size = sizeof original_;
    if (RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, original_, &size) != ERROR_SUCCESS)
      return;
    SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
    PSID everyone = NULL;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
      return;
    BYTE aclBytes[256];
    ACL *acl = reinterpret_cast<ACL *>(aclBytes);
    SECURITY_DESCRIPTOR denying;
    if (InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
        AddAccessDeniedAce(acl, ACL_REVISION, KEY_READ, everyone) &&
        AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
        InitializeSecurityDescriptor(&denying, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&denying, TRUE, acl, FALSE))
      applied_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, &denying) == ERROR_SUCCESS;
    FreeSid(everyone);
  }
  ~ReadingDenied() {
    if (applied_) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, original_);
    if (key_ != NULL) RegCloseKey(key_);
  }
  // True when the key now refuses to be read: to be opened for reading or, where the system
  // ignores the access asked for (the Windows 95 family), to answer a query.
  bool Holds(HKEY root, const char *path) const {
    HKEY probe;
    LONG status = RegOpenKeyExA(root, path, 0, KEY_READ, &probe);
    if (status == ERROR_SUCCESS) {
      BYTE data[4];
      DWORD size = sizeof data;
      status = RegQueryValueExA(probe, "", NULL, NULL, data, &size);
      RegCloseKey(probe);
    }
    return applied_ && status == ERROR_ACCESS_DENIED;
  }

 private:
  HKEY key_ = NULL;
  alignas(8) BYTE original_[1024];
  bool applied_ = false;
};

}  // namespace wintest
