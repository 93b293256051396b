#include "tests/soak/soak_figures.h"

#include <cstdio>
#include <sstream>

#include "tests/soak/soak_settings.h"

namespace halvyn::testing::soak {
namespace {

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::string FiguresLine(const SoakFigures& f) {
  const ClientFleet::Counters& c = f.clients;
  const RouteDriver::Counters& r = f.routes;
  std::ostringstream line;
  line << "soak figures: " << f.seconds << " s, seed " << f.seed;
  line << "; datagrams sent " << c.sent << " by clients, " << f.noiseDatagrams << " noise, "
       << f.consoleConnections << " console connections (" << f.consoleAnswered << " answered)";
  line << "; clients " << kClientCount << ", logins " << c.logins << ", logouts " << c.logouts
       << ", vanished " << c.vanished << ", NAT changes " << c.natChanges << ", connects "
       << c.connectsDelivered << "/" << c.connectsSent << " delivered, lists " << c.lists
       << ", listed checks " << c.presenceChecks << ", drops in time " << c.dropsSeen;
  line << "; routes requested " << r.requests << ", granted " << r.granted << ", refused "
       << r.refused << ", probed " << r.probes << ", released " << r.released << ", lost replies "
       << r.lostReplies << ", resyncs " << f.resyncs << ", most at once " << r.mostRoutes
       << ", at end " << f.routesAtEnd;
  line << "; operator stops " << f.stops << ", clears " << f.clears << ", selections "
       << f.selections;
  line << "; window answers " << f.windowAnswers << ", max " << OneDecimal(f.windowMaxMs)
       << " ms, p99 " << OneDecimal(f.windowP99Ms) << " ms";
  line << "; RSS " << f.warm.residentKib << " -> " << f.last.residentKib << " KiB, threads "
       << f.warm.threads << " -> " << f.last.threads;
  line << "; relay socket drops " << f.relaySocketDrops << "; exit " << f.exitMs << " ms";
  return line.str();
}

}  // namespace halvyn::testing::soak
