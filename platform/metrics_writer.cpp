#include "platform/metrics_writer.h"

namespace halvyn {

void MetricsWriter::Family(std::string_view name, std::string_view type, std::string_view help) {
  text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void MetricsWriter::Sample(std::string_view name, std::string_view labels, uint64_t value) {
  text_.append(name);
  if (!labels.empty()) text_.append("{").append(labels).append("}");
  text_.append(" ").append(std::to_string(value)).append("\n");
}

void MetricsWriter::Single(std::string_view name, std::string_view type, std::string_view help,
                           uint64_t value) {
  Family(name, type, help);
  Sample(name, "", value);
}

}  // namespace halvyn
