// Each test gets its own registry file in a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "com/registry.h"
#include "support/private_registry.h"

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.emplace();
    dir_ = registry_->dir().path();
    file_ = registry_->file();
  }
  void TearDown() override { registry_.reset(); }

  std::optional<testsupport::PrivateRegistry> registry_;
  std::string dir_;
  std::string file_;
};

inline LONG SetSz(HKEY key, const char16_t* name, std::u16string_view text) {
  std::u16string data(text);
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
}

inline LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

// The text of a REG_SZ value; nothing when it cannot be read as one.
inline std::optional<std::u16string> QuerySz(HKEY key, const char16_t* name) {
  DWORD type = 0, size = 0;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (r != ERROR_SUCCESS) return std::nullopt;
  std::u16string text(size / sizeof(char16_t), u'\0');
  r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
  if (r != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  if (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}
