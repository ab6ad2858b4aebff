// rescomp: turns a resource script into a C++ source that embeds the resources and exports
// the directory the runtime looks them up in.
//
//   REGISTRY 101 "Server.rgs"        a file, by type and id (any upper-case type name)
//   STRING 100 "text"                an inline string
//   VERSIONINFO { FILEVERSION 1,0,0,1 PRODUCTVERSION 1,0,0,1 FILETYPE DLL FILEOS NT_WINDOWS32
//                 LANGUAGE 0x0409 CODEPAGE 1200 "Key" "Value" ... }
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "com/build_tool_files.h"
#include "resource_script.h"

namespace {

constexpr const char* kUsage = "usage: rescomp FILE.rc -o OUT.cpp [-I DIR]... [--depfile OUT.d]\n";

std::string EscapeDep(const std::string& p) {
  std::string o;
  for (char c : p) {
    if (c == ' ' || c == '#') o += '\\';
    if (c == '$') o += '$';
    o += c;
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output, depfile;
  std::vector<std::string> searchDirs;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if ((a == "-o" || a == "-I" || a == "--depfile") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "-o")
        output = v;
      else if (a == "-I")
        searchDirs.push_back(v);
      else
        depfile = v;
    } else if (!a.empty() && a[0] != '-' && input.empty()) {
      input = a;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (input.empty() || output.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  rescomp::Script script;
  std::string error;
  if (!rescomp::LoadScript(input, searchDirs, &script, &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  if (!buildtool::WriteFile(output, rescomp::WriteSource(script))) {
    std::cerr << "rescomp: cannot write " << output << "\n";
    return 1;
  }
  if (!depfile.empty()) {
    std::string d = EscapeDep(output) + ":";
    for (const auto& f : script.inputs) d += " " + EscapeDep(f);
    if (!buildtool::WriteFile(depfile, d + "\n")) {
      std::cerr << "rescomp: cannot write " << depfile << "\n";
      return 1;
    }
  }
  return 0;
}
