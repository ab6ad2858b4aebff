// The commands of `reg`, each on one key path; they print what they found and return the
// exit status (0, or 1 with the registry's message on standard error).
#pragma once

#include <string>

namespace reg {

int List(const std::string& key);
int Get(const std::string& key, const std::string& name);
int SetText(const std::string& key, const std::string& name, const std::string& text);
int SetNumber(const std::string& key, const std::string& name, const std::string& number);
int Delete(const std::string& key);
int DeleteValue(const std::string& key, const std::string& name);
int Create(const std::string& key);

// Prints "reg: <message>" and returns the exit status for bad arguments.
int Usage(const std::string& message);

}  // namespace reg
