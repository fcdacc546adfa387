#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One failure to inject: the nth call of a driver function answers code.
struct FaultRule {
  std::string call;
  int nth = 0;
  int32_t code = 0;
};

// A camera that vanishes this long after it was opened.
struct UnplugRule {
  uint32_t camera_id = 0;
  double after_s = 0.0;
};

// "is_FreezeVideo:3:-1,is_AllocImageMem:1:1"; nothing when any part is bad.
std::optional<std::vector<FaultRule>> ParseFaultRules(std::string_view text);
// "2:5" or "1:0.5,2:3"; nothing when any part is bad.
std::optional<std::vector<UnplugRule>> ParseUnplugRules(std::string_view text);

// The failures one library injects, counted over all its devices. The
// counts start again whenever the rules' text changes.
class FaultPlan {
 public:
  void Refresh(const std::string& text, const std::vector<FaultRule>& rules);
  // Counts this call; the code to answer when it is one to fail.
  std::optional<int32_t> Fault(const char* call);
  // Failures injected since the rules last changed.
  int Injected();

 private:
  std::mutex mutex_;
  std::string text_;
  std::vector<FaultRule> rules_;
  std::map<std::string, int, std::less<>> counts_;
  int injected_ = 0;
};

}  // namespace sim
