// reg: reads and writes the class registry from a terminal.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"

namespace {

constexpr const char* kHelp = R"(usage: reg COMMAND KEY [ARGUMENTS]
Reads and writes the class registry: the file $COMRT_REGISTRY, else
$XDG_DATA_HOME/comrt/registry.db (~/.local/share/comrt/registry.db).

  reg list KEY                  print the keys and values below KEY
  reg get KEY [NAME]            print a value (the default value without NAME)
  reg set KEY NAME TEXT         set a text value, creating KEY as needed
  reg set --dword KEY NAME N    set a 32-bit number (decimal, or hex with 0x)
  reg delete KEY                delete KEY with everything below it
  reg delete KEY NAME           delete one value
  reg create KEY                create KEY and the keys above it

KEY starts with HKEY_CLASSES_ROOT (HKCR) or HKEY_CURRENT_USER (HKCU), for example
'HKCU\Software\X'. NAME "" or "@" is the key's default value. "--" ends the options.
Exit status: 0 done, 1 the registry refused or lacks what was asked, 2 bad arguments.
)";

bool Within(size_t count, size_t least, size_t most) { return count >= least && count <= most; }

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool dword = false, options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (options && (arg == "--help" || arg == "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--dword") {
      dword = true;
    } else if (options && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return reg::Usage("unknown option '" + arg + "'");
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) return reg::Usage("no command given");
  const std::string command = args[0];
  const size_t count = args.size() - 1;
  if (dword && command != "set") return reg::Usage("--dword goes with set only");
  if (command == "list") {
    if (count != 1) return reg::Usage("list takes one KEY");
    return reg::List(args[1]);
  }
  if (command == "get") {
    if (!Within(count, 1, 2)) return reg::Usage("get takes KEY [NAME]");
    return reg::Get(args[1], count == 2 ? args[2] : std::string());
  }
  if (command == "set") {
    if (count != 3) return reg::Usage("set takes KEY NAME VALUE");
    return dword ? reg::SetNumber(args[1], args[2], args[3])
                 : reg::SetText(args[1], args[2], args[3]);
  }
  if (command == "delete") {
    if (!Within(count, 1, 2)) return reg::Usage("delete takes KEY [NAME]");
    return count == 1 ? reg::Delete(args[1]) : reg::DeleteValue(args[1], args[2]);
  }
  if (command == "create") {
    if (count != 1) return reg::Usage("create takes one KEY");
    return reg::Create(args[1]);
  }
  return reg::Usage("unknown command '" + command + "'");
}
