#include "platform/command_options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>

namespace halvyn {

namespace {

// getopt_long returns a long option as its index plus this, above every
// character it returns otherwise (1 for a word, ':', '?', 'h').
constexpr int kFirstOption = 256;

}  // namespace

CommandOption OptionFlag(std::string name, bool& field, bool value) {
  return {std::move(name), nullptr, [&field, value] { field = value; }};
}

CommandOption OptionWithValue(
    std::string name, std::function<bool(const std::string& value, std::string& error)> take) {
  return {std::move(name), std::move(take), nullptr};
}

bool ReadCommandOptions(const std::vector<std::string>& args,
                        std::span<const CommandOption> options, std::string_view unknownPrefix,
                        const std::function<void(const std::string& word)>& word,
                        std::string& error) {
  std::vector<option> longOptions;
  int help = -1;
  for (size_t i = 0; i < options.size(); ++i) {
    longOptions.push_back({options[i].name.c_str(),
                           options[i].take ? required_argument : no_argument, nullptr,
                           kFirstOption + int(i)});
    if (options[i].name == "help") help = kFirstOption + int(i);
  }
  longOptions.push_back({});
  // getopt_long reads argv[1] on; in return-in-order mode ("-" first in its
  // option string) it never reorders the words. It sees "-" in place of "--"
  // and of every word that starts with one "-" but "-h", so to it they are
  // words; words and values are then taken from args.
  std::vector<char*> argv{const_cast<char*>("")};
  for (const std::string& arg : args) {
    const bool dashWord =
        arg == "--" || (arg.size() > 1 && arg[0] == '-' && arg[1] != '-' && arg != "-h");
    argv.push_back(const_cast<char*>(dashWord ? "-" : arg.c_str()));
  }
  argv.push_back(nullptr);
  const int argc = int(args.size()) + 1;

  const auto unknown = [&](const std::string& given) {
    error = std::string(unknownPrefix) + given;
    return false;
  };
  optind = 0;  // a new scan
  opterr = 0;  // the caller reports
  for (;;) {
    // Each call reads the word at optind, and the next one for a value: "-h"
    // is the only cluster of short options it sees, so no call stops inside a
    // word.
    const int at = std::max(optind, 1);
    int code = getopt_long(argc, argv.data(), "-:h", longOptions.data(), nullptr);
    if (code == -1) return true;
    const std::string& given = args[size_t(at) - 1];
    if (code == 1) {
      if (!word || given == "--") return unknown(given);
      word(given);
      continue;
    }
    if (code == ':') {
      // Only a word that names an option in full is missing its value.
      const auto named = std::find_if(options.begin(), options.end(), [&](const CommandOption& o) {
        return o.take && given == "--" + o.name;
      });
      if (named == options.end()) return unknown(given);
      error = given + " needs a value";
      return false;
    }
    if (code == 'h' && help >= 0) code = help;
    if (code < kFirstOption) return unknown(given);
    const CommandOption& chosen = options[size_t(code - kFirstOption)];
    // getopt_long also takes "--name=value" and unambiguous abbreviations.
    if (given != "-h" && given != "--" + chosen.name) return unknown(given);
    if (!chosen.take) {
      chosen.set();
    } else if (!chosen.take(args[size_t(at)], error)) {
      return false;
    }
  }
}

std::optional<uint64_t> ParseWholeNumber(std::string_view text, uint64_t most, bool hex) {
  int base = 10;
  if (hex && (text.starts_with("0x") || text.starts_with("0X"))) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || failure != std::errc() || stop != end || value > most) return std::nullopt;
  return value;
}

}  // namespace halvyn
