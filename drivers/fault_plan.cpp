#include "drivers/fault_plan.h"

#include <algorithm>
#include <charconv>

namespace sim {
namespace {

// Splits at the separator; every field must be non-empty.
std::optional<std::vector<std::string_view>> Fields(std::string_view text, char separator, size_t count) {
  std::vector<std::string_view> fields;
  while (true) {
    const size_t end = text.find(separator);
    fields.push_back(text.substr(0, end));
    if (fields.back().empty()) return std::nullopt;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (fields.size() != count) return std::nullopt;
  return fields;
}

template <class Number>
bool ParseWhole(std::string_view text, Number& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

// Each comma-separated entry through parse_entry; nothing when one fails.
template <class Rule, class Parse>
std::optional<std::vector<Rule>> ParseList(std::string_view text, Parse parse_entry) {
  std::vector<Rule> rules;
  if (text.empty()) return rules;
  const auto entries = Fields(text, ',', static_cast<size_t>(std::count(text.begin(), text.end(), ',')) + 1);
  if (!entries) return std::nullopt;
  for (std::string_view entry : *entries) {
    Rule rule;
    if (!parse_entry(entry, rule)) return std::nullopt;
    rules.push_back(rule);
  }
  return rules;
}

}  // namespace

std::optional<std::vector<FaultRule>> ParseFaultRules(std::string_view text) {
  return ParseList<FaultRule>(text, [](std::string_view entry, FaultRule& rule) {
    const auto fields = Fields(entry, ':', 3);
    if (!fields) return false;
    rule.call = std::string((*fields)[0]);
    return ParseWhole((*fields)[1], rule.nth) && rule.nth >= 1 && ParseWhole((*fields)[2], rule.code);
  });
}

std::optional<std::vector<UnplugRule>> ParseUnplugRules(std::string_view text) {
  return ParseList<UnplugRule>(text, [](std::string_view entry, UnplugRule& rule) {
    const auto fields = Fields(entry, ':', 2);
    return fields && ParseWhole((*fields)[0], rule.camera_id) && rule.camera_id >= 1 &&
           ParseWhole((*fields)[1], rule.after_s) && rule.after_s >= 0.0;
  });
}

void FaultPlan::Refresh(const std::string& text, const std::vector<FaultRule>& rules) {
  const std::lock_guard lock(mutex_);
  if (text == text_) return;
  text_ = text;
  rules_ = rules;
  counts_.clear();
  injected_ = 0;
}

int FaultPlan::Injected() {
  const std::lock_guard lock(mutex_);
  return injected_;
}

std::optional<int32_t> FaultPlan::Fault(const char* call) {
  const std::lock_guard lock(mutex_);
  if (rules_.empty()) return std::nullopt;
  const std::string_view name(call);
  auto count = counts_.find(name);
  if (count == counts_.end()) count = counts_.emplace(std::string(name), 0).first;
  const int nth = ++count->second;
  for (const FaultRule& rule : rules_) {
    if (rule.call == name && rule.nth == nth) {
      ++injected_;
      return rule.code;
    }
  }
  return std::nullopt;
}

}  // namespace sim
