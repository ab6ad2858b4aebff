#include "commands.h"

#include <charconv>
#include <cstdio>
#include <vector>

#include "com/registry.h"

namespace reg {
namespace {

constexpr int kFailed = 1;
constexpr int kBadArguments = 2;

// "@" names the default value, as in the listing.
std::string ValueName(const std::string& name) { return name == "@" ? std::string() : name; }

int Failed() {
  std::fprintf(stderr, "reg: %s\n", com::registry::LastErrorText().c_str());
  return kFailed;
}

// Rejects a path without a hive before touching the registry.
bool CheckPath(const std::string& key, int* status) {
  HKEY root;
  std::string subKey;
  if (com::registry::SplitRoot(key, &root, &subKey)) return true;
  *status = Usage("bad key '" + key +
                  "': it must start with HKEY_CLASSES_ROOT (HKCR) or HKEY_CURRENT_USER (HKCU)");
  return false;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Shown(const com::registry::Value& value) {
  std::string name = value.name.empty() ? "@" : value.name;
  if (value.type == REG_SZ) return name + " = " + Quoted(value.text);
  if (value.type == REG_DWORD) return name + " = dword:" + std::to_string(value.number);
  return name + " = (type " + std::to_string(value.type) + ")";
}

LONG PrintTree(const std::string& key, int depth) {
  std::string indent(2 * depth, ' ');
  std::vector<com::registry::Value> values;
  if (LONG r = com::registry::ListValues(key, &values); r != ERROR_SUCCESS) return r;
  for (const auto& value : values) std::printf("%s%s\n", indent.c_str(), Shown(value).c_str());
  std::vector<std::string> subkeys;
  if (LONG r = com::registry::ListSubkeys(key, &subkeys); r != ERROR_SUCCESS) return r;
  for (const auto& subkey : subkeys) {
    std::printf("%s%s\n", indent.c_str(), subkey.c_str());
    if (LONG r = PrintTree(key + "\\" + subkey, depth + 1); r != ERROR_SUCCESS) return r;
  }
  return ERROR_SUCCESS;
}

bool ParseNumber(const std::string& text, DWORD* number) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  if (first == last) return false;
  auto [end, error] = std::from_chars(first, last, *number, hex ? 16 : 10);
  return error == std::errc() && end == last;
}

}  // namespace

int Usage(const std::string& message) {
  std::fprintf(stderr, "reg: %s (see reg --help)\n", message.c_str());
  return kBadArguments;
}

int List(const std::string& key) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  if (!com::registry::KeyExists(key)) return Failed();
  HKEY root;
  std::string subKey;
  com::registry::SplitRoot(key, &root, &subKey);
  std::string shown = root == HKEY_CLASSES_ROOT ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
  if (!subKey.empty()) shown += "\\" + subKey;
  std::printf("%s\n", shown.c_str());
  if (PrintTree(key, 1) != ERROR_SUCCESS) return Failed();
  return 0;
}

int Get(const std::string& key, const std::string& name) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  std::string text;
  LONG r = com::registry::GetText(key, ValueName(name), &text);
  if (r == ERROR_SUCCESS) {
    std::printf("%s\n", text.c_str());
    return 0;
  }
  if (r != ERROR_INVALID_DATA) return Failed();
  DWORD number = 0;
  if (com::registry::GetNumber(key, ValueName(name), &number) != ERROR_SUCCESS) {
    std::fprintf(stderr, "reg: value '%s' of %s is neither text nor a number\n",
                 name.empty() ? "@" : name.c_str(), key.c_str());
    return kFailed;
  }
  std::printf("%u\n", number);
  return 0;
}

int SetText(const std::string& key, const std::string& name, const std::string& text) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  if (com::registry::SetText(key, ValueName(name), text) != ERROR_SUCCESS) return Failed();
  return 0;
}

int SetNumber(const std::string& key, const std::string& name, const std::string& number) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  DWORD value = 0;
  if (!ParseNumber(number, &value))
    return Usage("'" + number + "' is not a 32-bit number (decimal, or hex with 0x)");
  if (com::registry::SetNumber(key, ValueName(name), value) != ERROR_SUCCESS) return Failed();
  return 0;
}

int Delete(const std::string& key) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  if (com::registry::DeleteTree(key) != ERROR_SUCCESS) return Failed();
  return 0;
}

int DeleteValue(const std::string& key, const std::string& name) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  if (com::registry::DeleteValue(key, ValueName(name)) != ERROR_SUCCESS) return Failed();
  return 0;
}

int Create(const std::string& key) {
  int status = 0;
  if (!CheckPath(key, &status)) return status;
  if (com::registry::CreateKey(key) != ERROR_SUCCESS) return Failed();
  return 0;
}

}  // namespace reg
