// Reads a resource script and writes the embedding source.
#pragma once

#include <string>
#include <vector>

namespace rescomp {

struct Resource {
  std::string type;
  unsigned id = 0;
  std::vector<unsigned char> bytes;
};

struct Script {
  std::vector<Resource> resources;
  std::vector<std::string> inputs;  // every file read, for the build's dependency list
};

// Files are looked up beside the script, then in each search folder in turn.
bool LoadScript(const std::string& path, const std::vector<std::string>& searchDirs, Script* out,
                std::string* error);
std::string WriteSource(const Script& script);

}  // namespace rescomp
