// Boost.Regex does the matching. Its own Perl syntax differs from the object's language, so a
// pattern is first written in a form the library reads in exactly the object's sense: every
// escape, ".", "^" and "$" spelled out, and nothing of the library's extensions reachable.
// Character classes and letter case come from this file's traits, never from a locale.
#include "automation/pattern_engine.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "automation/pattern_case.h"

namespace harvester {

namespace {

namespace constants = boost::regex_constants;
namespace library = boost::BOOST_REGEX_DETAIL_NS;

// The classes of the object's language, all of them ASCII. "lower", "upper" and "alpha" are
// asked for by the library when it compiles; no pattern can name them.
enum CharClass : std::uint32_t {
  kWordClass = 1,     // \w: [A-Za-z0-9_]
  kDigitClass = 2,    // \d: [0-9]
  kSpaceClass = 4,    // \s: [ \f\n\r\t\v]
  kLowerClass = 8,    // [a-z]
  kUpperClass = 16,   // [A-Z]
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLower(char16_t c) { return c >= u'a' && c <= u'z'; }
bool IsUpper(char16_t c) { return c >= u'A' && c <= u'Z'; }
bool IsAlphanumeric(char16_t c) { return IsDigit(c) || IsLower(c) || IsUpper(c); }

int HexValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The library's traits for UTF-16 code units: the object's classes and its letter case.
class PatternTraits {
 public:
  using char_type = char16_t;
  using size_type = std::size_t;
  using string_type = std::u16string;
  struct locale_type {};
  using char_class_type = std::uint32_t;
  struct boost_extensions_tag {};  // every optional member below is this class's own

  PatternTraits() : upper_(PatternUpperCaseTable()) {}

  static size_type length(const char_type* p) { return std::char_traits<char16_t>::length(p); }
  char_type translate(char_type c) const { return c; }
  char_type translate_nocase(char_type c) const { return upper_[c]; }
  char_type translate(char_type c, bool icase) const { return icase ? upper_[c] : c; }
  // Only the library's own replacement formats use these; this engine has its own.
  char_type tolower(char_type c) const { return c; }
  char_type toupper(char_type c) const { return upper_[c]; }
  string_type transform(const char_type* p1, const char_type* p2) const { return string_type(p1, p2); }
  string_type transform_primary(const char_type* p1, const char_type* p2) const { return string_type(p1, p2); }
  string_type lookup_collatename(const char_type*, const char_type*) const { return {}; }

  char_class_type lookup_classname(const char_type* p1, const char_type* p2) const {
    const std::u16string_view name(p1, static_cast<std::size_t>(p2 - p1));
    if (name.size() == 1) {
      switch (name[0]) {
        case u'w': case u'W': return kWordClass;
        case u'd': case u'D': return kDigitClass;
        case u's': case u'S': return kSpaceClass;
        default: return 0;
      }
    }
    if (name == u"lower") return kLowerClass;
    if (name == u"upper") return kUpperClass;
    if (name == u"alpha") return kLowerClass | kUpperClass;
    return 0;
  }

  bool isctype(char_type c, char_class_type mask) const {
    return ((mask & kWordClass) && (IsAlphanumeric(c) || c == u'_')) || ((mask & kDigitClass) && IsDigit(c)) ||
           ((mask & kSpaceClass) && (c == u' ' || (c >= u'\t' && c <= u'\r'))) ||
           ((mask & kLowerClass) && IsLower(c)) || ((mask & kUpperClass) && IsUpper(c));
  }

  int value(char_type c, int radix) const {
    const int digit = HexValue(c);
    return digit < radix ? digit : -1;
  }
  std::intmax_t toi(const char_type*& p1, const char_type* p2, int radix) const {
    return library::global_toi(p1, p2, radix, *this);
  }
  constants::syntax_type syntax_type(char_type c) const {
    return c < 0x80 ? library::get_default_syntax_type(static_cast<char>(c)) : constants::syntax_char;
  }
  constants::escape_syntax_type escape_syntax_type(char_type c) const {
    return c < 0x80 ? library::get_default_escape_syntax_type(static_cast<char>(c)) : constants::escape_type_identity;
  }
  std::string error_string(constants::error_type error) const { return library::get_default_error_string(error); }
  locale_type imbue(locale_type locale) { return locale; }
  locale_type getloc() const { return {}; }

 private:
  const char16_t* upper_;
};

using Regex = boost::basic_regex<char16_t, PatternTraits>;

// "{n}", "{n,}" or "{n,m}" at the brace: its length; 0 when the brace is a character.
std::size_t BraceQuantifierLength(std::u16string_view text, std::size_t brace) {
  std::size_t i = brace + 1;
  const std::size_t digits = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  if (i == digits) return 0;
  if (i < text.size() && text[i] == u',') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  if (i >= text.size() || text[i] != u'}') return 0;
  return i + 1 - brace;
}

// The least and the most rounds of a quantifier ("?", "*", "+" or a brace form); SIZE_MAX for no most.
struct Rounds {
  std::size_t least = 0, most = 0;
};

Rounds RoundsOf(std::u16string_view quantifier) {
  if (quantifier.size() == 1) return {quantifier[0] == u'+' ? 1u : 0u, quantifier[0] == u'?' ? 1u : SIZE_MAX};
  const auto number = [&](std::size_t& at) {
    std::size_t value = 0;
    for (; IsDigit(quantifier[at]); ++at) value = std::min<std::size_t>(value * 10 + (quantifier[at] - u'0'), 1u << 30);
    return value;
  };
  std::size_t at = 1;
  const std::size_t least = number(at);
  if (quantifier[at] == u'}') return {least, least};
  ++at;
  return {least, quantifier[at] == u'}' ? SIZE_MAX : number(at)};
}

// How one capture group of the pattern is read back from the library's match.
struct GroupPlan {
  struct Round {
    std::size_t index;  // a repeated group around it, by its number in the library's pattern
    bool canBegin;      // the group can be captured before anything of a round of it is consumed
  };
  std::size_t index = 0;        // its number in the library's pattern
  std::vector<Round> repeats;   // it counts only where it lies in the last round of each
};

// A pattern of the object's language written in the library's Perl syntax, with the same sense.
// It is walked twice: the first walk finds the groups, the second writes the pattern.
//
// The language forgets, at every round of a repeated group, what the groups inside it captured
// before; the library keeps it. So a repeated group that holds capture groups is captured as
// well (a plain group becomes a capture group the caller never sees), and a group inside it
// counts only where it lies in that group's last round. Back references read a group of their
// own around the one they name, which every pass through a repeated group sets: an alternative
// without it sets it empty in its place (the library's branch reset "(?|" numbers the groups
// of every alternative alike), and so does the skipping of a group that may take no round. An
// empty capture matches what a group that took no part matches: the empty text.
class SyntaxBridge {
 public:
  SyntaxBridge(std::u16string_view pattern, const PatternOptions& options) : in_(pattern), options_(options) {}

  // nullopt when the pattern is not one of the language.
  std::optional<std::u16string> Translate() {
    if (!Walk()) return std::nullopt;
    Plan();
    writing_ = true;
    if (!Walk()) return std::nullopt;
    return std::move(out_);
  }

  // The capture groups of the pattern, in its order.
  std::vector<GroupPlan> TakeGroups() { return std::move(plans_); }
  // The units every match begins with (in upper case with IgnoreCase); empty when there is no such start.
  std::u16string TakeStart() { return alternatives_ ? std::u16string() : std::move(start_); }

 private:
  enum class GroupKind { kCapture, kPlain, kLookahead, kNegativeLookahead };
  struct Group {
    GroupKind kind;
    std::ptrdiff_t parent;     // the group around it; -1 for none
    std::size_t alternative;   // the alternative of the group around it (or of the pattern) it lies in
    std::size_t alternatives = 1;
    bool repeated = false;
    bool zeroRounds = false;   // its quantifier lets it take no round
    bool noRounds = false;     // ... and no more than that ("{0}")
    bool lazy = false;
    bool holdsCapture = false;
    bool referenced = false;   // a back reference reads it
    bool padded = false;       // each of its alternatives sets the groups back references read in the others
    bool zeroPadded = false;   // its skipping sets those inside it
    std::vector<bool> consumedBefore = {};  // for each group around it, innermost first: its round consumes before it
    std::size_t index = 0;            // its number in the library's pattern; 0 for none
    std::size_t referenceIndex = 0;   // the number of the group back references read around it; 0 for none
    std::vector<std::vector<bool>> slots = {};  // per alternative, the library's groups in it: true for one references read
    std::vector<bool> zeroSlots = {};           // the library's groups in it, its own too, the same way
  };
  // The pattern, then every group being walked: how much its current alternative consumes.
  struct Level {
    std::ptrdiff_t group;
    std::size_t alternative = 0;
    bool consumed = false;      // an element before the last one consumes
    bool lastConsumes = false;  // the last element consumes (it may yet be quantified to none)
    bool everyAlternativeConsumes = true;
  };
  enum class EscapeKind { kUnit, kClass, kBoundary, kBackReference };
  struct Escape {
    EscapeKind kind;
    unsigned value;  // the unit, the letter of a class or boundary, or the group's number
  };

  bool Walk() {
    at_ = opened_ = capturesOpened_ = 0;
    levels_.assign(1, Level{-1});
    bool afterQuantifier = false;  // a quantifier cannot follow another (the library reads "*+" as one)
    bool afterAnchor = false;      // nor "^" or "$", as in the language
    while (at_ < in_.size()) {
      const std::size_t startBefore = start_.size();
      if (const std::size_t length = QuantifierLength(at_)) {
        if (afterQuantifier || afterAnchor) return false;
        if (!writing_ && startOpen_ && lastWasStart_) start_.pop_back();  // a repeated unit is no fixed start
        startOpen_ = false;
        if (RoundsOf(in_.substr(at_, length)).least == 0) levels_.back().lastConsumes = false;
        Emit(in_.substr(at_, length));
        at_ += length;
        if (at_ < in_.size() && in_[at_] == u'?') Emit(in_.substr(at_++, 1));  // lazy
        afterQuantifier = true;
        continue;
      }
      const char16_t c = in_[at_];
      afterQuantifier = afterAnchor = false;
      if (c == u'(') {
        if (!Open()) return false;
      } else if (c == u')') {
        afterQuantifier = Close();
      } else if (c == u'|') {
        Alternative();
      } else {
        afterAnchor = c == u'^' || c == u'$';
        if (!Atom()) return false;
      }
      // The fixed start: the units that stand for themselves from the first on, outside groups.
      lastWasStart_ = start_.size() > startBefore;
      if (!lastWasStart_) startOpen_ = false;
    }
    return true;
  }

  std::size_t QuantifierLength(std::size_t at) const {
    if (at >= in_.size()) return 0;
    if (in_[at] == u'*' || in_[at] == u'+' || in_[at] == u'?') return 1;
    return in_[at] == u'{' ? BraceQuantifierLength(in_, at) : 0;
  }

  void BeginElement() {
    Level& level = levels_.back();
    level.consumed = level.consumed || level.lastConsumes;
    level.lastConsumes = false;
  }

  // "(", "(?:", "(?=" and "(?!" are the language's; every other "(?" and "(*" is the library's.
  bool Open() {
    const std::u16string_view rest = in_.substr(at_);
    GroupKind kind = GroupKind::kCapture;
    std::size_t length = 1;
    if (rest.size() > 1 && rest[1] == u'*') return false;
    if (rest.size() > 1 && rest[1] == u'?') {
      if (rest.size() < 3 || (rest[2] != u':' && rest[2] != u'=' && rest[2] != u'!')) return false;
      kind = rest[2] == u':'   ? GroupKind::kPlain
             : rest[2] == u'=' ? GroupKind::kLookahead
                               : GroupKind::kNegativeLookahead;
      length = 3;
    }
    BeginElement();
    const std::size_t number = opened_++;
    if (!writing_) {
      Group& group = groups_.emplace_back(
          Group{.kind = kind, .parent = levels_.back().group, .alternative = levels_.back().alternative});
      bool consumed = false;
      for (std::size_t level = levels_.size(); level-- > 1;)
        group.consumedBefore.push_back(consumed = consumed || levels_[level].consumed);
      if (kind == GroupKind::kCapture) captureGroups_.push_back(number);
    }
    if (kind == GroupKind::kCapture) ++capturesOpened_;
    const Group& group = groups_[number];
    if (group.zeroPadded) {  // "(?|X{1,m}|pads)", lazily "(?|pads|X{1,m}?)"; "(?|(?!)X|pads)" for none
      Emit(u"(?|");
      if (group.noRounds) Emit(u"(?!)");
      else if (group.lazy) PadsThenAlternative(group.zeroSlots);
    }
    if (group.referenceIndex) Emit(u"(");
    Emit(kind == GroupKind::kPlain && group.index ? u"(" : rest.substr(0, length));
    if (group.padded) Emit(u"(?|");
    levels_.push_back({static_cast<std::ptrdiff_t>(number)});
    depth_ = levels_.size() - 1;
    at_ += length;
    return true;
  }

  // True when it has taken the group's quantifier as well.
  bool Close() {
    ++at_;
    if (levels_.size() == 1) {
      Emit(u")");  // one too many: the library refuses the pattern, as the language does
      return false;
    }
    Level level = levels_.back();
    levels_.pop_back();
    depth_ = levels_.size() - 1;
    Group& group = groups_[static_cast<std::size_t>(level.group)];
    const std::size_t quantifier = QuantifierLength(at_);
    const Rounds rounds = quantifier ? RoundsOf(in_.substr(at_, quantifier)) : Rounds{1, 1};
    if (!writing_) {
      group.repeated = quantifier != 0;
      group.zeroRounds = rounds.least == 0;
      group.noRounds = rounds.most == 0;
      group.lazy = quantifier && at_ + quantifier < in_.size() && in_[at_ + quantifier] == u'?';
    }
    const bool lookahead = group.kind == GroupKind::kLookahead || group.kind == GroupKind::kNegativeLookahead;
    levels_.back().lastConsumes =
        !lookahead && level.everyAlternativeConsumes && (level.consumed || level.lastConsumes);
    if (group.padded) Emit(u")");
    Emit(u")");
    if (group.referenceIndex) Emit(u")");
    if (!group.zeroPadded) return false;
    // The quantifier with a round at least; the skipping is the other alternative.
    if (!group.noRounds) {
      Emit(rounds.most == 1 ? u"" : rounds.most == SIZE_MAX ? u"+" : u"{1," + Decimal16(rounds.most) + u"}");
      if (group.lazy && rounds.most > 1) Emit(u"?");
    }
    if (!group.lazy || group.noRounds) {
      Emit(u"|");
      Pads(group.zeroSlots);
    }
    Emit(u")");
    at_ += quantifier + (group.lazy ? 1 : 0);
    levels_.back().lastConsumes = false;
    return true;
  }

  void Alternative() {
    Level& level = levels_.back();
    if (level.group < 0) alternatives_ = true;
    level.everyAlternativeConsumes = level.everyAlternativeConsumes && (level.consumed || level.lastConsumes);
    level.consumed = level.lastConsumes = false;
    Group* group = level.group < 0 ? nullptr : &groups_[static_cast<std::size_t>(level.group)];
    if (group && !writing_) ++group->alternatives;
    if (group && group->padded) PadAlternatives(*group, level.alternative + 1, group->alternatives);
    Emit(u"|");
    ++level.alternative;
    if (group && group->padded) PadAlternatives(*group, 0, level.alternative);
    ++at_;
  }

  // Empty captures of the groups back references read, and groups that take no part for the rest.
  void Pads(const std::vector<bool>& slots) {
    for (const bool read : slots) Emit(read ? u"()" : u"(?:(?!)())?");
  }
  void PadsThenAlternative(const std::vector<bool>& slots) {
    Pads(slots);
    Emit(u"|");
  }
  void PadAlternatives(const Group& group, std::size_t from, std::size_t to) {
    for (std::size_t alternative = from; alternative < to && alternative < group.slots.size(); ++alternative)
      Pads(group.slots[alternative]);
  }

  // The library's numbers of the groups, where the groups back references read are set in their
  // place, and how the pattern's capture groups are read back.
  void Plan() {
    std::vector<bool> inRepeat(groups_.size());  // a repeated group lies around it
    for (std::size_t g = 0; g < groups_.size(); ++g) {
      const std::ptrdiff_t parent = groups_[g].parent;
      inRepeat[g] = parent >= 0 && (groups_[parent].repeated || inRepeat[parent]);
      if (groups_[g].kind != GroupKind::kCapture) continue;
      for (std::ptrdiff_t up = parent; up >= 0; up = groups_[up].parent) groups_[up].holdsCapture = true;
    }
    for (std::size_t g = 0; g < groups_.size(); ++g) {
      if (!groups_[g].referenced) continue;
      for (std::ptrdiff_t up = static_cast<std::ptrdiff_t>(g); up >= 0; up = groups_[up].parent) {
        Group& around = groups_[up];
        around.zeroPadded = around.zeroPadded || (around.zeroRounds && inRepeat[up]);
        if (up != static_cast<std::ptrdiff_t>(g) && around.alternatives > 1 && (around.repeated || inRepeat[up]))
          around.padded = true;
      }
    }
    std::size_t next = 0;
    for (Group& group : groups_) {
      if (group.referenced) group.referenceIndex = ++next;
      if (group.kind == GroupKind::kCapture || (group.kind == GroupKind::kPlain && group.repeated && group.holdsCapture))
        group.index = ++next;
    }
    for (std::size_t g = 0; g < groups_.size(); ++g) {
      std::vector<bool> own;
      if (groups_[g].referenceIndex) own.push_back(true);
      if (groups_[g].index) own.push_back(false);
      for (std::ptrdiff_t up = static_cast<std::ptrdiff_t>(g), child = -1; up >= 0; child = up, up = groups_[up].parent) {
        Group& around = groups_[up];
        if (around.zeroPadded) around.zeroSlots.insert(around.zeroSlots.end(), own.begin(), own.end());
        if (child < 0 || !around.padded) continue;
        around.slots.resize(around.alternatives);
        std::vector<bool>& slot = around.slots[groups_[child].alternative];
        slot.insert(slot.end(), own.begin(), own.end());
      }
      if (groups_[g].kind != GroupKind::kCapture) continue;
      GroupPlan& plan = plans_.emplace_back();
      plan.index = groups_[g].index;
      std::size_t distance = 0;
      for (std::ptrdiff_t up = groups_[g].parent; up >= 0; up = groups_[up].parent, ++distance) {
        if (groups_[up].repeated && groups_[up].index)
          plan.repeats.push_back({groups_[up].index, !groups_[g].consumedBefore[distance]});
      }
    }
  }

  bool Atom() {
    BeginElement();
    const char16_t c = in_[at_];
    bool consumes = true;
    switch (c) {
      case u'\\': {
        const std::optional<Escape> escape = ReadEscape(false);
        if (!escape) return false;
        if (escape->kind == EscapeKind::kBackReference) BackReference(escape->value);
        else Item(*escape);
        if (escape->kind == EscapeKind::kUnit) Start(escape->value);
        levels_.back().lastConsumes = escape->kind == EscapeKind::kUnit || escape->kind == EscapeKind::kClass;
        return true;
      }
      case u'[':
        levels_.back().lastConsumes = true;
        return Class();
      case u'.': Emit(u"[^\\x{000A}]"); break;  // any unit but a line feed
      case u'^':
        Emit(options_.multiline ? u"(?<![^\\x{000A}\\x{000D}])" : u"(?<![\\s\\S])");
        consumes = false;
        break;
      case u'$':
        Emit(options_.multiline ? u"(?![^\\x{000A}\\x{000D}])" : u"(?![\\s\\S])");
        consumes = false;
        break;
      default:
        Literal(c);
        Start(c);
        break;
    }
    levels_.back().lastConsumes = consumes;
    ++at_;
    return true;
  }

  // A unit that stands for itself, at the top level: while nothing else has come, the pattern's start.
  void Start(unsigned unit) {
    if (writing_ || !startOpen_ || depth_ > 0) return;
    const auto value = static_cast<char16_t>(unit);
    start_ += options_.ignoreCase ? PatternUpperCase(value) : value;
  }

  // "[...]"; "[]" matches nothing and "[^]" any unit, as in the language.
  bool Class() {
    const std::u16string_view rest = in_.substr(at_);
    if (rest.substr(0, 2) == u"[]" || rest.substr(0, 3) == u"[^]") {
      const bool none = rest[1] == u']';
      Emit(none ? u"[^\\s\\S]" : u"[\\s\\S]");
      at_ += none ? 2 : 3;
      return true;
    }
    Emit(u"[");
    ++at_;
    if (at_ < in_.size() && in_[at_] == u'^') Emit(in_.substr(at_++, 1));
    while (at_ < in_.size() && in_[at_] != u']') {
      const std::optional<Escape> first = ClassAtom();
      if (!first) return false;
      if (at_ + 1 < in_.size() && in_[at_] == u'-' && in_[at_ + 1] != u']') {
        ++at_;
        const std::optional<Escape> last = ClassAtom();
        if (!last) return false;
        if (first->kind == EscapeKind::kUnit && last->kind == EscapeKind::kUnit) {
          if (first->value > last->value) return false;
          Range(first->value, last->value);
        } else {  // with a class at either end the dash is a character
          Item(*first);
          Unit(u'-');
          Item(*last);
        }
        continue;
      }
      Item(*first);
    }
    if (at_ >= in_.size()) return false;  // no closing bracket
    Emit(u"]");
    ++at_;
    return true;
  }

  std::optional<Escape> ClassAtom() {
    if (in_[at_] == u'\\') return ReadEscape(true);
    return Escape{EscapeKind::kUnit, in_[at_++]};
  }

  // The escape at the backslash, inside a class or outside; nothing when the pattern ends in it.
  std::optional<Escape> ReadEscape(bool inClass) {
    if (at_ + 1 >= in_.size()) return std::nullopt;
    const char16_t c = in_[at_ + 1];
    at_ += 2;
    const auto unit = [](unsigned value) { return Escape{EscapeKind::kUnit, value}; };
    switch (c) {
      case u'd': case u'D': case u's': case u'S': case u'w': case u'W': return Escape{EscapeKind::kClass, c};
      case u'b': return inClass ? unit(0x08) : Escape{EscapeKind::kBoundary, c};  // in a class the backspace
      case u'B': return inClass ? unit(c) : Escape{EscapeKind::kBoundary, c};
      case u'f': return unit(0x0C);
      case u'n': return unit(0x0A);
      case u'r': return unit(0x0D);
      case u't': return unit(0x09);
      case u'v': return unit(0x0B);
      case u'c': {
        // A letter, and in a class also a digit or "_", names a control character.
        const bool control = at_ < in_.size() && (IsLower(in_[at_]) || IsUpper(in_[at_]) ||
                                                  (inClass && (IsDigit(in_[at_]) || in_[at_] == u'_')));
        if (control) return unit(in_[at_++] % 32u);
        --at_;  // a backslash, and the "c" is read again as itself
        return unit(u'\\');
      }
      case u'x': return unit(HexDigits(2).value_or(c));
      case u'u': return unit(HexDigits(4).value_or(c));
      default: break;
    }
    if (!IsDigit(c)) return unit(c);  // any other character stands for itself
    --at_;
    return Decimal(inClass);
  }

  // "\n", by Microsoft's documentation: a back reference when at least n capture groups begin
  // before it; of two digits, to both when that many begin before it, else to the first with the
  // second a digit after it. Otherwise an octal escape of at most three digits and 0377 ("\8"
  // and "\9": the digit itself).
  Escape Decimal(bool inClass) {
    if (!inClass && in_[at_] != u'0') {
      const unsigned first = in_[at_] - u'0';
      const unsigned both = at_ + 1 < in_.size() && IsDigit(in_[at_ + 1]) ? first * 10 + (in_[at_ + 1] - u'0') : 0;
      if (both != 0 && both <= capturesOpened_) {
        at_ += 2;
        return {EscapeKind::kBackReference, both};
      }
      if (first <= capturesOpened_) {
        ++at_;
        return {EscapeKind::kBackReference, first};
      }
    }
    if (in_[at_] >= u'8') return {EscapeKind::kUnit, in_[at_++]};
    unsigned value = 0;
    for (int digits = 0; digits < 3 && at_ < in_.size() && in_[at_] >= u'0' && in_[at_] <= u'7' &&
                         value * 8 + (in_[at_] - u'0') <= 0377;
         ++digits) {
      value = value * 8 + (in_[at_++] - u'0');
    }
    return {EscapeKind::kUnit, value};
  }

  // The value of exactly that many hex digits, read; nothing, and nothing read, when they are not all there.
  std::optional<unsigned> HexDigits(std::size_t digits) {
    if (in_.size() - at_ < digits) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
      const int digit = HexValue(in_[at_ + i]);
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    at_ += digits;
    return value;
  }

  void Item(const Escape& escape) {
    if (escape.kind == EscapeKind::kUnit) {
      Unit(escape.value);
    } else {
      const char16_t spelled[] = {u'\\', static_cast<char16_t>(escape.value)};
      Emit(std::u16string_view(spelled, 2));
    }
  }

  // A reference to a group that took no part matches the empty text, as in the language (the
  // library's Perl rules would fail it). One that can never see a capture of the group in this
  // pass through it matches that alone: inside the group itself, in another alternative, or
  // after a negative lookahead that holds it.
  void BackReference(unsigned number) {
    const std::size_t target = captureGroups_[number - 1];
    if (NeverSees(target)) return;
    if (!writing_) {
      groups_[target].referenced = true;
      return;
    }
    const std::u16string index = Decimal16(groups_[target].referenceIndex);
    Emit(u"(?(" + index + u")\\g{" + index + u"})");
  }

  bool NeverSees(std::size_t target) const {
    const auto levelOf = [&](std::ptrdiff_t group) {
      return std::find_if(levels_.begin(), levels_.end(), [&](const Level& level) { return level.group == group; });
    };
    if (levelOf(static_cast<std::ptrdiff_t>(target)) != levels_.end()) return true;
    for (std::size_t g = target;;) {
      const auto level = levelOf(groups_[g].parent);  // the pattern's own level is always there
      if (level != levels_.end()) return level->alternative != groups_[g].alternative;
      g = static_cast<std::size_t>(groups_[g].parent);
      if (groups_[g].kind == GroupKind::kNegativeLookahead) return true;
    }
  }

  // A range of a class. Without IgnoreCase as it is; with it, in stretches whose upper case is
  // one stretch too: the library compares the upper case of a unit with those of the ends.
  void Range(unsigned first, unsigned last) {
    const auto shift = [](unsigned unit) { return static_cast<int>(PatternUpperCase(static_cast<char16_t>(unit))) - static_cast<int>(unit); };
    for (unsigned from = first; from <= last;) {
      unsigned to = from;
      while (to < last && (!options_.ignoreCase || shift(to + 1) == shift(from))) ++to;
      Unit(from);
      if (to > from) {
        Emit(u"-");
        Unit(to);
      }
      from = to + 1;
    }
  }

  // A character that stands for itself: letters, digits and what lies beyond ASCII as they are,
  // everything else by its number, where no syntax of the library can read anything else into it.
  void Literal(char16_t c) {
    if (IsAlphanumeric(c) || c >= 0x80) Emit(std::u16string_view(&c, 1));
    else Unit(c);
  }

  void Unit(unsigned value) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    const char16_t spelled[] = {u'\\', u'x', u'{', kHex[(value >> 12) & 0xF], kHex[(value >> 8) & 0xF],
                                kHex[(value >> 4) & 0xF], kHex[value & 0xF], u'}'};
    Emit(std::u16string_view(spelled, std::size(spelled)));
  }

  static std::u16string Decimal16(std::size_t number) {
    std::u16string text;
    for (const char digit : std::to_string(number)) text += static_cast<char16_t>(digit);
    return text;
  }

  void Emit(std::u16string_view text) {
    if (writing_) out_.append(text);
  }

  std::u16string_view in_;
  PatternOptions options_;
  bool writing_ = false;
  std::size_t at_ = 0;
  std::size_t opened_ = 0;          // groups begun so far
  std::size_t capturesOpened_ = 0;  // capture groups begun so far
  std::vector<Level> levels_;
  std::vector<Group> groups_;
  std::vector<std::size_t> captureGroups_;  // the capture groups among them, in order
  std::vector<GroupPlan> plans_;
  std::u16string out_;
  std::size_t depth_ = 0;       // groups open at the current unit
  std::u16string start_;        // the fixed start found so far
  bool startOpen_ = true;       // nothing but fixed units so far
  bool lastWasStart_ = false;   // the last token added to the fixed start
  bool alternatives_ = false;   // "|" outside groups: no fixed start
};

// The replacement for one match, "$" forms read as the object reads them.
void AppendReplacement(std::u16string& out, std::u16string_view replacement, std::u16string_view subject,
                       const PatternMatch& match) {
  const auto groupText = [&](std::size_t number) {
    const std::optional<PatternSpan>& group = match.groups[number - 1];
    if (group) out.append(subject.substr(group->first, group->length));
  };
  const std::size_t groups = match.groups.size();
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const char16_t c = replacement[i];
    const char16_t next = i + 1 < replacement.size() ? replacement[i + 1] : u'\0';
    if (c != u'$' || i + 1 >= replacement.size()) {
      out += c;
    } else if (next == u'$') {
      out += u'$';
      ++i;
    } else if (next == u'&') {
      out.append(subject.substr(match.whole.first, match.whole.length));
      ++i;
    } else if (next == u'`') {
      out.append(subject.substr(0, match.whole.first));
      ++i;
    } else if (next == u'\'') {
      out.append(subject.substr(match.whole.first + match.whole.length));
      ++i;
    } else if (IsDigit(next)) {
      // Two digits when they name a group, else one; a number naming no group stays as written.
      const std::size_t one = next - u'0';
      const bool twoDigits = i + 2 < replacement.size() && IsDigit(replacement[i + 2]);
      const std::size_t two = twoDigits ? one * 10 + (replacement[i + 2] - u'0') : 0;
      if (two >= 1 && two <= groups) {
        groupText(two);
        i += 2;
      } else if (one >= 1 && one <= groups) {
        groupText(one);
        ++i;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
}

}  // namespace

struct CompiledPattern::Impl {
  // The next place from on where the subject holds the pattern's fixed start; npos for none.
  // The library would try every unit beyond Latin-1 as a start: on a page of Chinese text
  // that is most of the work, which this loop spares it.
  std::size_t NextStart(std::u16string_view subject, std::size_t from) const {
    if (start.empty()) return from;
    const char16_t* upper = PatternUpperCaseTable();
    const auto fold = [&](char16_t unit) { return ignoreCase ? upper[unit] : unit; };
    for (std::size_t at = from; at + start.size() <= subject.size(); ++at) {
      if (fold(subject[at]) != start[0]) continue;
      std::size_t same = 1;
      while (same < start.size() && fold(subject[at + same]) == start[same]) ++same;
      if (same == start.size()) return at;
    }
    return std::u16string_view::npos;
  }

  Regex regex;
  std::vector<GroupPlan> groups;
  std::u16string start;
  bool ignoreCase = false;
  bool global = false;
};

CompiledPattern::CompiledPattern(std::unique_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}

CompiledPattern::~CompiledPattern() = default;

std::unique_ptr<CompiledPattern> CompiledPattern::Compile(std::u16string_view pattern,
                                                          const PatternOptions& options) noexcept {
  try {
    SyntaxBridge bridge(pattern, options);
    const std::optional<std::u16string> syntax = bridge.Translate();
    if (!syntax) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->groups = bridge.TakeGroups();
    impl->start = bridge.TakeStart();
    impl->ignoreCase = options.ignoreCase;
    impl->regex.assign(syntax->data(), syntax->data() + syntax->size(),
                       constants::perl | (options.ignoreCase ? constants::icase : constants::normal));
    impl->global = options.global;
    return std::unique_ptr<CompiledPattern>(new CompiledPattern(std::move(impl)));
  } catch (...) {
    return nullptr;
  }
}

std::size_t CompiledPattern::GroupCount() const noexcept { return impl_->groups.size(); }

std::optional<std::vector<PatternMatch>> CompiledPattern::Execute(std::u16string_view subject) const noexcept {
  try {
    std::vector<PatternMatch> found;
    const char16_t* const begin = subject.data();
    const char16_t* const end = begin + subject.size();
    boost::match_results<const char16_t*> result;
    for (std::size_t from = 0; from <= subject.size();) {
      // A match can begin only where the fixed start stands: tried there alone, one place after
      // another. The whole subject lies before the search: "^", "$" and "\b" see the units there.
      const std::size_t at = impl_->NextStart(subject, from);
      if (at == std::u16string_view::npos) break;
      const auto flags = impl_->start.empty() ? constants::match_default : constants::match_continuous;
      if (!boost::regex_search(begin + at, end, result, impl_->regex, flags, begin)) {
        if (impl_->start.empty()) break;
        from = at + 1;
        continue;
      }
      PatternMatch match;
      match.whole = {static_cast<std::size_t>(result[0].first - begin), static_cast<std::size_t>(result[0].length())};
      for (const GroupPlan& plan : impl_->groups) {
        const auto& group = result[static_cast<int>(plan.index)];
        bool took = group.matched;
        // Of an empty capture where the last round begins, only one made at the start of that
        // round counts: where none can be, it is an earlier round's, made at its end.
        for (const GroupPlan::Round& round : plan.repeats) {
          const auto& repeated = result[static_cast<int>(round.index)];
          took = took && repeated.matched &&
                 (group.first > repeated.first ||
                  (group.first == repeated.first && (group.second != group.first || round.canBegin)));
        }
        if (!took) match.groups.emplace_back();
        else match.groups.emplace_back(PatternSpan{static_cast<std::size_t>(group.first - begin),
                                                   static_cast<std::size_t>(group.length())});
      }
      from = match.whole.first + match.whole.length + (match.whole.length == 0 ? 1 : 0);
      found.push_back(std::move(match));
      if (!impl_->global) break;
    }
    return found;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::u16string> CompiledPattern::Replace(std::u16string_view subject,
                                                       std::u16string_view replacement) const noexcept {
  try {
    const std::optional<std::vector<PatternMatch>> matches = Execute(subject);
    if (!matches) return std::nullopt;
    std::u16string out;
    std::size_t done = 0;
    for (const PatternMatch& match : *matches) {
      out.append(subject.substr(done, match.whole.first - done));
      AppendReplacement(out, replacement, subject, match);
      done = match.whole.first + match.whole.length;
    }
    out.append(subject.substr(done));
    return out;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace harvester
