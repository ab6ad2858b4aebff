// idlc: compiles an interface definition into a C++ header and a binary type library, so
// that the declarations and the type information come from one source.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "com/build_tool_files.h"
#include "header_writer.h"
#include "idl_parser.h"

namespace {

constexpr const char* kUsage =
    "usage: idlc FILE.idl [--header OUT.h] [--tlb OUT.tlb] [--source OUT.cpp --symbol NAME]\n";

}  // namespace

int main(int argc, char** argv) {
  std::string input, header, tlb, source, symbol;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--header") {
      ok = value(&header);
    } else if (a == "--tlb") {
      ok = value(&tlb);
    } else if (a == "--source") {
      ok = value(&source);
    } else if (a == "--symbol") {
      ok = value(&symbol);
    } else if (!a.empty() && a[0] != '-' && input.empty()) {
      input = a;
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (input.empty() || (!source.empty() && symbol.empty())) {
    std::cerr << kUsage;
    return 2;
  }
  std::string text;
  if (!buildtool::ReadFile(input, &text)) {
    std::cerr << "idlc: cannot read " << input << "\n";
    return 1;
  }
  com::tlb::Library lib;
  std::string error;
  if (!idlc::ParseIdl(text, input, &lib, &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  std::vector<uint8_t> bytes = com::tlb::Serialize(lib);
  std::string name = input.substr(input.find_last_of('/') + 1);
  if (!header.empty() && !buildtool::WriteFile(header, idlc::WriteHeader(lib, name))) {
    std::cerr << "idlc: cannot write " << header << "\n";
    return 1;
  }
  if (!tlb.empty() && !buildtool::WriteFile(tlb, std::string(bytes.begin(), bytes.end()))) {
    std::cerr << "idlc: cannot write " << tlb << "\n";
    return 1;
  }
  if (!source.empty() && !buildtool::WriteFile(source, idlc::WriteEmbeddedSource(bytes, symbol))) {
    std::cerr << "idlc: cannot write " << source << "\n";
    return 1;
  }
  return 0;
}
