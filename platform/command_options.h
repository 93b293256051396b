// The command lines of halvyn, halvyn-client and halvyn-devsim, read with
// getopt_long under one set of rules: an option is a word that starts with
// "--" and names the option in full (no abbreviations, no "--name=value"),
// its value is the next word whatever that word is, and "-h" is short for
// "--help". Any other word is a word of the program's own ("-x" and "-"
// included), or an unknown option for a program that takes none; "--" on its
// own is always an unknown option.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvyn {

struct CommandOption {
  const char* name;  // without the leading "--"
  bool takesValue = false;
};

struct CommandOptionHandlers {
  // The option options[index] with its value ("" for one without). Returns
  // false, having set the error, when the value is wrong.
  std::function<bool(size_t index, const std::string& value, std::string& error)> option;
  // A word that is not an option; when empty, such a word is an unknown
  // option.
  std::function<void(const std::string& word)> word;
};

// Reads args (the program name left out) in order. On the first word it does
// not take, returns false with error set: "--NAME needs a value" for an option
// without its value, unknownPrefix and the word for anything else, or what
// the option handler set. Uses getopt_long's process-wide state: call it from
// one thread at a time.
bool ReadCommandOptions(const std::vector<std::string>& args,
                        std::span<const CommandOption> options, std::string_view unknownPrefix,
                        const CommandOptionHandlers& handlers, std::string& error);

// All of text as a number from 0 to most: decimal, or hexadecimal after "0x"
// or "0X" when hex is set.
std::optional<uint64_t> ParseWholeNumber(std::string_view text, uint64_t most, bool hex = false);

}  // namespace halvyn
