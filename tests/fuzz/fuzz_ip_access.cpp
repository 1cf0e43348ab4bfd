// IP patterns and the address part of the access decision.
// Properties: MatchIPOctet agrees with a plain reference of its part rule;
// a pattern matches exactly when no part differs before a "*" part or the
// end; an address always matches itself and "*"; the list decision is
// "some pattern matches" for 'A', its negation for 'D', true for 'I' and
// false for any other letter -- so an allow list fails closed and adding a
// pattern never narrows it.
#include <string>
#include <vector>

#include "foundation/security.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string_view Part(int k, std::string_view text) {
  for (int i = 1; i < k; ++i) {
    std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) text.remove_prefix(dot + 1);
  }
  if (k < 4) text = text.substr(0, text.find('.'));
  return text;
}

int ReferenceOctet(int k, std::string_view pattern, std::string_view address) {
  std::string_view p = Part(k, pattern);
  if (p == "*") return 1;
  return p == Part(k, address) ? 2 : 0;
}

bool ReferencePattern(std::string_view address, std::string_view pattern) {
  for (int k = 1; k <= 4; ++k) {
    int r = ReferenceOctet(k, pattern, address);
    if (r == 0) return false;
    if (r == 1) return true;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Fields fields(data, size);
  std::string_view letter_field = fields.Next();
  char letter = letter_field.empty() ? '\0' : letter_field.front();
  std::string address(fields.Next());
  std::vector<std::string> patterns;
  for (int i = 0; i < 8; ++i) {
    std::string_view p = fields.Next();
    if (p.empty() && i > 0) break;
    patterns.emplace_back(p);
  }

  bool any = false;
  for (const std::string& p : patterns) {
    for (int k = 1; k <= 4; ++k) fuzz::Check(MatchIPOctet(k, p, address) == ReferenceOctet(k, p, address));
    bool m = MatchIPPattern(address, p);
    fuzz::Check(m == ReferencePattern(address, p));
    any = any || m;
  }
  fuzz::Check(MatchIPPattern(address, address));
  fuzz::Check(MatchIPPattern(address, "*"));

  bool decision = MatchIPList(letter, address, patterns);
  switch (letter) {
    case 'A': fuzz::Check(decision == any); break;
    case 'D': fuzz::Check(decision == !any); break;
    case 'I': fuzz::Check(decision); break;
    default: fuzz::Check(!decision); break;
  }
  if (letter == 'A') {
    fuzz::Check(!MatchIPList('A', address, {}));
    std::vector<std::string> wider = patterns;
    wider.push_back(address);
    fuzz::Check(MatchIPList('A', address, wider));
  }
  return 0;
}
