// Runs a program of the build and captures its exit status and output.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `program` with `args`; `env` holds extra NAME=value assignments.
inline CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                                const std::vector<std::string>& env = {}) {
  TempDir tmp;
  std::string cmd;
  for (const auto& e : env) cmd += e + " ";
  cmd += shellQuote(program);
  for (const auto& a : args) cmd += " " + shellQuote(a);
  cmd += " >" + shellQuote(tmp.sub("out")) + " 2>" + shellQuote(tmp.sub("err")) + " </dev/null";
  int status = std::system(cmd.c_str());
  CommandResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(tmp.sub("out"));
  r.err = slurp(tmp.sub("err"));
  return r;
}
