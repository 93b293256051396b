#include "bench/result_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace halvyn::bench {

namespace {

using Fields = std::map<std::string, std::string>;
using Value = std::optional<double>;

class Results {
 public:
  void Add(Fields fields) { lines_.push_back(std::move(fields)); }
  bool empty() const { return lines_.empty(); }

  // The median of metric over the lines of this scenario, target and phase
  // (and the given field values, such as clients=545 or shape=1x64).
  Value Median(const std::string& scenario, const std::string& target, const std::string& phase,
               const std::string& metric, const Fields& where = {}) const {
    std::vector<double> values;
    for (const Fields& f : lines_) {
      if (Field(f, "scenario") != scenario || Field(f, "target") != target ||
          Field(f, "phase") != phase || !Matches(f, where))
        continue;
      const std::string v = Field(f, metric);
      if (!v.empty()) values.push_back(std::stod(v));
    }
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  }
  // Every value of field key in the lines of this scenario (whose phase begins
  // with phasePrefix), in order of first appearance.
  std::vector<std::string> Values(const std::string& scenario, const std::string& key,
                                  const std::string& phasePrefix = "") const {
    std::vector<std::string> values;
    for (const Fields& f : lines_) {
      const std::string v = Field(f, key);
      if (Field(f, "scenario") == scenario && !v.empty() &&
          Field(f, "phase").rfind(phasePrefix, 0) == 0 &&
          std::find(values.begin(), values.end(), v) == values.end())
        values.push_back(v);
    }
    return values;
  }
  // Every target that has lines of this scenario, in order of first appearance.
  std::vector<std::string> Targets(const std::string& scenario) const {
    return Values(scenario, "target");
  }
  size_t Runs(const std::string& scenario, const std::string& target) const {
    size_t n = 0;
    for (const Fields& f : lines_)
      n += Field(f, "scenario") == scenario && Field(f, "target") == target;
    return n;
  }

 private:
  static std::string Field(const Fields& f, const std::string& key) {
    auto found = f.find(key);
    return found == f.end() ? "" : found->second;
  }
  static bool Matches(const Fields& f, const Fields& where) {
    for (const auto& [key, value] : where)
      if (Field(f, key) != value) return false;
    return true;
  }
  std::vector<Fields> lines_;
};

std::string Format(Value v, const char* unit = "") {
  if (!v) return "–";
  const double x = *v;
  char text[64];
  if (std::fabs(x) >= 1e9)
    std::snprintf(text, sizeof text, "%.2f G%s", x / 1e9, unit);
  else if (std::fabs(x) >= 1e6)
    std::snprintf(text, sizeof text, "%.2f M%s", x / 1e6, unit);
  else if (std::fabs(x) >= 1e4)
    std::snprintf(text, sizeof text, "%.0f k%s", x / 1e3, unit);
  else if (std::fabs(x) >= 100)
    std::snprintf(text, sizeof text, "%.0f%s", x, unit);
  else if (std::fabs(x) >= 10)
    std::snprintf(text, sizeof text, "%.1f%s", x, unit);
  else
    std::snprintf(text, sizeof text, "%.2f%s", x, unit);
  return text;
}

// A count, in full.
std::string Count(Value v) {
  if (!v) return "–";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", *v);
  return text;
}

Value Ratio(Value a, Value b) {
  if (!a || !b || *b == 0) return std::nullopt;
  return *a / *b;
}

struct Goal {
  std::string text;
  std::function<bool(double)> met;
};

Goal AtLeast(double limit) {
  char text[32];
  std::snprintf(text, sizeof text, "≥ %.2g", limit);
  return {text, [limit](double v) { return v >= limit; }};
}
Goal AtMost(double limit, const char* unit = "") {
  char text[32];
  std::snprintf(text, sizeof text, "≤ %.3g%s", limit, unit);
  return {text, [limit](double v) { return v <= limit; }};
}

class Table {
 public:
  explicit Table(std::ostream& out) : out_(out) {
    out_ << "| figure | Halvyn | Halvyn + console | baseline | coturn | goal | met |\n"
         << "|---|---:|---:|---:|---:|---|---|\n";
  }
  void Row(const std::string& figure, const std::string& halvyn, const std::string& console,
           const std::string& baseline = "", const std::string& coturn = "") {
    out_ << "| " << figure << " | " << halvyn << " | " << console << " | " << baseline << " | "
         << coturn << " | | |\n";
  }
  void GoalRow(const std::string& figure, Value halvyn, Value console, const Goal& goal) {
    auto verdict = [&](Value v) { return v ? (goal.met(*v) ? "yes" : "no") : "–"; };
    out_ << "| " << figure << " | " << Format(halvyn) << " | " << Format(console) << " | | | "
         << goal.text << " | " << verdict(halvyn) << " / " << verdict(console) << " |\n";
  }

 private:
  std::ostream& out_;
};

// A figure of one attack, "–" when the run did not report it; a negative
// value stands for "no answer within the run's patience".
std::string Figure(const Results& r, const std::string& scenario, const std::string& target,
                   const std::string& phase, const std::string& metric, const char* unit = "") {
  const Value v = r.Median(scenario, target, phase, metric);
  if (v && *v < 0) return "no answer";
  if (v && *unit == 0 && *v == std::floor(*v) && *v < 1e4) return Count(v);
  return Format(v, unit);
}

std::string Share(Value part, Value whole) {
  if (!part || !whole || *whole <= 0) return "–";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", 100 * *part / *whole);
  return text;
}

// The abuse and storm scenarios, one row per attack, when the results hold any.
void PrintAbuseTable(const Results& r, std::ostream& out) {
  for (const std::string& target : r.Targets("abuse")) {
    out << "\nAbuse (" << target << ")\n\n"
        << "| attack | attacker sent | server sent (per byte in) | what it did | clients lost | "
           "\"p\" delivered | GET /api/window p50 / max ms | SIGTERM s |\n"
        << "|---|---:|---:|---|---:|---:|---:|---:|\n";
    const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
        attacks = {
            {"release",
             {{"login_g_ms", "login's \"g\" after, ms"},
              {"forwards_again_s", "forwards again after, s"}}},
            {"release-sigterm", {{"sigterm_s", "SIGTERM right after the flood, s"}}},
            {"relogin-100", {{"bytes_out_per_s", "bytes sent per s"}}},
            {"relogin-1000", {{"bytes_out_per_s", "bytes sent per s"}}},
            {"victim", {{"victim_bytes", "bytes to the victim"}}},
            {"fresh", {{"table", "names in the table"}, {"lists_after", "lists after a relogin"}}},
            {"keepalive", {{"stream_delivered", "\"p\" to the named client delivered"}}},
            {"logout", {{"stream_delivered", "\"p\" to the named client delivered"}}},
            {"info", {{"told_forged", "clients told the forged address"}}},
            {"routes", {{"boxes", "message boxes"}, {"box_entries", "shown as"}}},
            {"nowhere", {{"landed", "datagrams on local UDP 4440/4441"}}},
        };
    for (const auto& attack : attacks) {
      const std::string& phase = attack.first;
      const auto& effects = attack.second;
      auto get = [&](const std::string& metric) {
        return r.Median("abuse", target, phase, metric);
      };
      if (!get("attacks")) continue;
      std::string effect;
      for (const auto& [metric, caption] : effects) {
        if (!effect.empty()) effect += "; ";
        effect += caption + ": " + Figure(r, "abuse", target, phase, metric);
        if (metric == "stream_delivered") effect += " of " + Count(get("stream_sent"));
      }
      out << "| " << phase << " (" << Count(get("attacks")) << " at " << Count(get("rate"))
          << "/s) | " << Format(get("attack_bytes"), "B") << " | "
          << Figure(r, "abuse", target, phase, "bytes_out", "B") << " ("
          << Figure(r, "abuse", target, phase, "out_per_in") << ") | " << effect << " | "
          << Count(get("clients_lost")) << " of " << Count(get("clients")) << " | "
          << Share(get("p_delivered"), get("p_sent")) << " | "
          << Figure(r, "abuse", target, phase, "window_p50_ms") << " / "
          << (get("window_failed").value_or(0) > 0 ? "≥ " : "")
          << Figure(r, "abuse", target, phase, "window_max_ms") << " | "
          << Figure(r, "abuse", target, phase, "sigterm_s") << " |\n";
    }
  }
  for (const std::string& target : r.Targets("storm")) {
    out << "\nLogin storm (" << target << ")\n\n"
        << "| link | clients | bytes sent | logins took s | every client holds the full list "
           "after the last \"g\", s | lists received |\n"
        << "|---|---:|---:|---:|---:|---:|\n";
    for (const std::string phase : {"storm", "storm-1gbit"}) {
      auto get = [&](const std::string& metric) {
        return r.Median("storm", target, phase, metric);
      };
      if (!get("clients")) continue;
      out << "| " << (phase == "storm" ? "veth" : "veth at 1 Gbit/s") << " | "
          << Count(get("clients")) << " | " << Figure(r, "storm", target, phase, "bytes_sent", "B")
          << " | " << Figure(r, "storm", target, phase, "logins_s") << " | "
          << Figure(r, "storm", target, phase, "full_list_after_s") << " ("
          << Count(get("clients_full")) << " hold it) | " << Count(get("lists_received")) << " |\n";
    }
  }
}

}  // namespace

bool PrintResultTable(const std::string& path, std::ostream& out) {
  std::ifstream in(path);
  if (!in) return false;
  Results r;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("result ", 0) != 0) continue;
    std::istringstream words(line.substr(7));
    Fields fields;
    std::string word;
    while (words >> word) {
      const size_t eq = word.find('=');
      if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
    }
    r.Add(std::move(fields));
  }
  if (r.empty()) return false;

  bool classic = false;
  for (const char* scenario : {"rr", "intake", "broadcast", "state"})
    classic = classic || !r.Targets(scenario).empty();
  if (!classic) {
    PrintAbuseTable(r, out);
    return true;
  }

  const std::string H = "halvyn", C = "halvyn+console";
  Table t(out);

  // Request/reply, per shape (client sockets x requests in flight on each).
  std::vector<std::string> shapes = r.Values("rr", "shape");
  if (shapes.empty()) shapes.push_back("");  // lines from before shapes were named
  for (const std::string& shape : shapes) {
    const Fields where = shape.empty() ? Fields{} : Fields{{"shape", shape}};
    const std::string title = "request/reply" + (shape.empty() ? "" : " " + shape);
    auto rr = [&](const std::string& target, const std::string& phase, const std::string& metric) {
      return r.Median("rr", target, phase, metric, where);
    };
    t.Row(title + ": forwards (echoes, STUN answers) per server CPU-s",
          Format(rr(H, "capacity", "served_per_cpu_s")),
          Format(rr(C, "capacity", "served_per_cpu_s")),
          "echo " + Format(rr("echo", "capacity", "served_per_cpu_s")),
          Format(rr("coturn", "capacity", "served_per_cpu_s")));
    auto served = [&](const std::string& target) {
      return Format(rr(target, "capacity", "served_per_s")) + " (" +
             Format(rr(target, "capacity", "cpu_util")) + ")";
    };
    t.Row(title + ": served per wall second, closed loop (server CPU use)", served(H), served(C),
          served("echo"), served("coturn"));
    auto pair = [&](const std::string& target, const std::string& phase) {
      return Format(rr(target, phase, "p50_us")) + " / " + Format(rr(target, phase, "p99_us"));
    };
    t.Row(title + ": p50 / p99 latency µs at the moderate rate (" +
              Format(rr(H, "latency", "offered_per_s")) + "/s)",
          pair(H, "latency"), pair(C, "latency"), pair("echo", "latency"),
          pair("coturn", "latency"));
    t.GoalRow(
        title + ": Halvyn ÷ batched echo, per CPU-s",
        Ratio(rr(H, "capacity", "served_per_cpu_s"), rr("echo", "capacity", "served_per_cpu_s")),
        Ratio(rr(C, "capacity", "served_per_cpu_s"), rr("echo", "capacity", "served_per_cpu_s")),
        AtLeast(0.8));
    t.GoalRow(
        title + ": Halvyn ÷ coturn, per CPU-s",
        Ratio(rr(H, "capacity", "served_per_cpu_s"), rr("coturn", "capacity", "served_per_cpu_s")),
        Ratio(rr(C, "capacity", "served_per_cpu_s"), rr("coturn", "capacity", "served_per_cpu_s")),
        AtLeast(2.5));
    // CPU per "p" with a page on the console's event stream ÷ without a console.
    t.GoalRow(title + ": CPU per \"p\" with the console attached ÷ without", std::nullopt,
              Ratio(rr(H, "capacity", "served_per_cpu_s"), rr(C, "capacity", "served_per_cpu_s")),
              AtMost(1.05));
  }

  // Keep-alive intake.
  auto in3 = [&](const std::string& target, const std::string& phase, const std::string& metric,
                 const std::string& clients) {
    return r.Median("intake", target, phase, metric, {{"clients", clients}});
  };
  for (const std::string clients : {"10", "100", "545"}) {
    t.Row("keep-alive intake, " + clients + " clients: handled per server CPU-s (ns each)",
          Format(in3(H, "capacity", "handled_per_cpu_s", clients)) + " (" +
              Format(in3(H, "capacity", "cost_ns", clients)) + ")",
          Format(in3(C, "capacity", "handled_per_cpu_s", clients)) + " (" +
              Format(in3(C, "capacity", "cost_ns", clients)) + ")",
          "drain " + Format(in3("drain", "capacity", "handled_per_cpu_s", clients)) + " (" +
              Format(in3("drain", "capacity", "cost_ns", clients)) + ")");
  }
  for (const std::string clients : {"10", "545"}) {
    t.GoalRow("keep-alive intake, " + clients + " clients: Halvyn ÷ batched drain, per CPU-s",
              Ratio(in3(H, "capacity", "handled_per_cpu_s", clients),
                    in3("drain", "capacity", "handled_per_cpu_s", clients)),
              Ratio(in3(C, "capacity", "handled_per_cpu_s", clients),
                    in3("drain", "capacity", "handled_per_cpu_s", clients)),
              AtLeast(0.8));
  }
  t.GoalRow("keep-alive intake: cost per \"k\" at 545 clients ÷ at 10",
            Ratio(in3(H, "capacity", "cost_ns", "545"), in3(H, "capacity", "cost_ns", "10")),
            Ratio(in3(C, "capacity", "cost_ns", "545"), in3(C, "capacity", "cost_ns", "10")),
            AtMost(1.2));

  // Keep-alive intake from few sockets, open loop at fixed offered rates.
  for (const std::string& phase : r.Values("intake", "phase", "open-")) {
    auto get = [&](const std::string& target, const std::string& metric) {
      return r.Median("intake", target, phase, metric);
    };
    const std::string title = "keep-alive intake, " + Count(get(H, "senders")) + " socket(s) (" +
                              Count(get(H, "clients")) + " clients), " + Format(get(H, "rate")) +
                              "/s offered";
    auto handled = [&](const std::string& target) {
      return Format(get(target, "handled_per_cpu_s")) + " (" +
             Format(get(target, "offered_per_s")) + "/s)";
    };
    t.Row(title + ": handled per server CPU-s (offered per s)", handled(H), handled(C),
          "drain " + handled("drain"));
    t.GoalRow(title + ": Halvyn ÷ batched drain, per CPU-s",
              Ratio(get(H, "handled_per_cpu_s"), get("drain", "handled_per_cpu_s")),
              Ratio(get(C, "handled_per_cpu_s"), get("drain", "handled_per_cpu_s")), AtLeast(0.8));
    auto dropped = [&](const std::string& target) -> Value {
      const Value share = Ratio(get(target, "server_drops"), get(target, "sent"));
      if (!share) return std::nullopt;
      return 100 * *share;
    };
    const std::string drops =
        title + ": dropped at the socket, % (drain " + Format(dropped("drain")) + " %; counts " +
        Count(get(H, "server_drops")) + " / " + Count(get("drain", "server_drops")) + ")";
    if (get(H, "rate").value_or(0) <= 200000)
      t.GoalRow(drops, dropped(H), dropped(C), AtMost(0.1, " %"));
    else
      t.Row(drops, Format(dropped(H)), Format(dropped(C)), Format(dropped("drain")));
  }

  // List broadcast.
  auto bc = [&](const std::string& target, const std::string& phase, const std::string& metric) {
    return r.Median("broadcast", target, phase, metric);
  };
  t.Row("list broadcast to 545: bytes sent per server CPU-s",
        Format(bc(H, "capacity", "bytes_per_cpu_s"), "B"),
        Format(bc(C, "capacity", "bytes_per_cpu_s"), "B"),
        "fan-out " + Format(bc("fanout", "capacity", "bytes_per_cpu_s"), "B"));
  t.Row(
      "list broadcast: lists per wall second (server CPU use)",
      Format(bc(H, "capacity", "lists_per_s")) + " (" + Format(bc(H, "capacity", "cpu_util")) + ")",
      Format(bc(C, "capacity", "lists_per_s")) + " (" + Format(bc(C, "capacity", "cpu_util")) + ")",
      Format(bc("fanout", "capacity", "lists_per_s")) + " (" +
          Format(bc("fanout", "capacity", "cpu_util")) + ")");
  t.GoalRow(
      "list broadcast: Halvyn ÷ bare sendmmsg fan-out, per CPU-s",
      Ratio(bc(H, "capacity", "bytes_per_cpu_s"), bc("fanout", "capacity", "bytes_per_cpu_s")),
      Ratio(bc(C, "capacity", "bytes_per_cpu_s"), bc("fanout", "capacity", "bytes_per_cpu_s")),
      AtLeast(0.8));

  // Overload: served per wall second at twice the capacity, against the capacity.
  struct Load {
    std::string title;
    const char* scenario;
    const char* served;
    const char* capacity;
    Fields where;
  };
  for (const Load& l :
       {Load{"request/reply " + shapes.front(), "rr", "served_per_s", "served_per_cpu_s",
             shapes.front().empty() ? Fields{} : Fields{{"shape", shapes.front()}}},
        Load{"keep-alive intake (545)",
             "intake",
             "handled_per_s",
             "handled_per_cpu_s",
             {{"clients", "545"}}},
        Load{"list broadcast", "broadcast", "lists_per_s", "lists_per_cpu_s", {}}}) {
    auto get = [&](const std::string& target, const char* phase, const char* metric) {
      return r.Median(l.scenario, target, phase, metric, l.where);
    };
    const std::string base = l.scenario == std::string("rr")       ? "echo"
                             : l.scenario == std::string("intake") ? "drain"
                                                                   : "fanout";
    auto summary = [&](const std::string& target) {
      return Format(get(target, "overload", "offered_per_s")) + " → " +
             Format(get(target, "overload", l.served)) + " (" +
             Format(get(target, "overload", "cpu_util")) + "); " +
             Format(get(target, "overload", l.capacity));
    };
    t.Row(std::string("overload, ") + l.title +
              ": offered → served per s (server CPU use); served per CPU-s",
          summary(H), summary(C), base + " " + summary(base),
          l.scenario == std::string("rr") ? summary("coturn") : "");
    auto extra = [&](const std::string& target) {
      std::string text = Format(get(target, "overload", "rss_kib")) + " KiB";
      if (std::string(l.scenario) != "intake")
        text = Format(get(target, "overload", "p99_us")) + " µs, " + text;
      return text;
    };
    t.Row(std::string("overload, ") + l.title +
              (std::string(l.scenario) != "intake" ? ": p99 latency, resident memory"
                                                   : ": resident memory"),
          extra(H), extra(C), extra(base), l.scenario == std::string("rr") ? extra("coturn") : "");
    t.GoalRow(std::string("overload, ") + l.title + ": served per CPU-s ÷ capacity",
              Ratio(get(H, "overload", l.capacity), get(H, "capacity", l.capacity)),
              Ratio(get(C, "overload", l.capacity), get(C, "capacity", l.capacity)), AtLeast(0.9));
  }

  // Memory and console.
  auto st = [&](const std::string& target, const std::string& phase, const std::string& metric) {
    return r.Median("state", target, phase, metric);
  };
  t.Row("resident memory idle, KiB", Format(st(H, "idle", "rss_kib")),
        Format(st(C, "idle", "rss_kib")));
  t.Row("resident memory with " + Count(st(H, "loaded", "clients")) + " clients, " +
            Count(st(H, "loaded", "routes")) + " routes and " +
            Count(st(H, "loaded", "log_lines_sent")) + " log lines, KiB",
        Format(st(H, "loaded", "rss_kib")), Format(st(C, "loaded", "rss_kib")));
  auto mib = [](Value kib) -> Value {
    if (!kib) return std::nullopt;
    return *kib / 1024;
  };
  t.GoalRow("resident memory in that state, MiB", mib(st(H, "loaded", "rss_kib")),
            mib(st(C, "loaded", "rss_kib")), AtMost(16));
  t.Row("console: GET /api/window in that state, ms (bytes)", "",
        Format(st(C, "console", "get_window_ms")) + " (" +
            Format(st(C, "console", "window_bytes")) + ")");
  t.Row("console: login datagram → event on the stream, ms", "",
        Format(st(C, "console", "login_event_ms")));
  // The console under hostile connections from another address (console_pressure.h).
  const std::pair<const char*, const char*> pressures[] = {{"slow", "24 slow senders"},
                                                           {"streams", "40 event streams"},
                                                           {"idle", "1,100 idle connections"}};
  for (const auto& [kind, what] : pressures) {
    const std::string phase = std::string("console-") + kind;
    if (!st(C, phase, "get_window_ms")) continue;
    t.Row(std::string("console with ") + what +
              ": GET /api/window ms (max); login → event ms (max); routes with listeners",
          "",
          Format(st(C, phase, "get_window_ms")) + " (" + Format(st(C, phase, "get_window_max_ms")) +
              "); " + Format(st(C, phase, "login_event_ms")) + " (" +
              Format(st(C, phase, "login_event_max_ms")) + "); " +
              Format(st(C, phase, "route_rows")));
  }
  out << "\nMedians of " << r.Runs("rr", H) / (3 * shapes.size()) << " run(s).\n";
  PrintAbuseTable(r, out);
  return true;
}

}  // namespace halvyn::bench
