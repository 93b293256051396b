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
  std::string name;  // without the leading "--"
  // An option with a value: takes it, or returns false having set the error.
  std::function<bool(const std::string& value, std::string& error)> take;
  // An option without a value.
  std::function<void()> set;
};

// An option without a value that sets field to value.
CommandOption OptionFlag(std::string name, bool& field, bool value = true);
// An option with a value, taken by take.
CommandOption OptionWithValue(
    std::string name, std::function<bool(const std::string& value, std::string& error)> take);

// Reads args (the program name left out) in order, calling each option's
// take or set, and word for every word that is not an option (when word is
// empty, such a word is an unknown option). On the first word it does not
// take, returns false with error set: "--NAME needs a value" for an option
// without its value, unknownPrefix and the word for anything else, or what
// the option's take set. Uses getopt_long's process-wide state: call it from
// one thread at a time.
bool ReadCommandOptions(const std::vector<std::string>& args,
                        std::span<const CommandOption> options, std::string_view unknownPrefix,
                        const std::function<void(const std::string& word)>& word,
                        std::string& error);

// All of text as a number from 0 to most: decimal, or hexadecimal after "0x"
// or "0X" when hex is set.
std::optional<uint64_t> ParseWholeNumber(std::string_view text, uint64_t most, bool hex = false);

}  // namespace halvyn
