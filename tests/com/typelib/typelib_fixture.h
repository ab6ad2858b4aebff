// A private registry in a fresh temporary folder per test, and the test server.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "com/activation.h"
#include "com/ptr.h"
#include "com/registry.h"
#include "support/private_registry.h"

inline const std::string kServerPath = SCRIVO_LIB_DIR "/libtypelib_test_server.so";

class TypelibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.emplace();
    dir_ = registry_->dir().path();
  }
  void TearDown() override {
    if (server_) dlclose(server_);
    CoFreeUnusedLibraries();
    registry_.reset();
  }

  // Loads the server (kept until the test ends) and calls one of its exports.
  HRESULT CallServer(const char* entry) {
    if (!server_) server_ = dlopen(kServerPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!server_) {
      ADD_FAILURE() << dlerror();
      return E_FAIL;
    }
    auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(server_, entry));
    if (!fn) {
      ADD_FAILURE() << "no " << entry;
      return E_FAIL;
    }
    return fn();
  }
  void RegisterServer() { ASSERT_EQ(CallServer("DllRegisterServer"), S_OK); }

  // Every key and value under a root as "path|name|text" lines, for before-and-after checks.
  static std::vector<std::string> Dump(const std::string& path) {
    std::vector<std::string> out;
    std::vector<com::registry::Value> values;
    com::registry::ListValues(path, &values);
    out.push_back(path);
    for (const auto& v : values)
      out.push_back(path + "|" + v.name + "|" +
                    (v.type == REG_SZ ? v.text : std::to_string(v.number)));
    std::vector<std::string> subs;
    com::registry::ListSubkeys(path, &subs);
    for (const auto& s : subs) {
      auto inner = Dump(path + "\\" + s);
      out.insert(out.end(), inner.begin(), inner.end());
    }
    return out;
  }

  std::optional<testsupport::PrivateRegistry> registry_;
  std::string dir_;
  void* server_ = nullptr;
};
