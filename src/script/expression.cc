#include "script/expression.h"

#include "script/interpreter.h"

namespace kyt {

namespace {

struct NumberTooLarge {};

class Evaluator {
 public:
  explicit Evaluator(TextView text) : text_(text) {}

  // The whole text as one parenthesized operand, with nothing left over.
  Text run() {
    bool value = false;
    if (!operand(value)) return u"ERROR";
    if (pos_ != text_.size()) return u"ERROR";
    return value ? u"TRUE" : u"FALSE";
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  char16_t peek() const { return at_end() ? u'\0' : text_[pos_]; }
  void skip_spaces() {
    while (!at_end() && text_[pos_] == u' ') ++pos_;
  }

  bool operand(bool& value) {
    skip_spaces();
    if (peek() == u'(') {
      ++pos_;
      if (!expression(value)) return false;
      skip_spaces();
      if (peek() != u')') return false;
      ++pos_;
      return true;
    }
    if (peek() == u'"') return comparison(value);
    return false;
  }

  bool expression(bool& value) {
    if (!operand(value)) return false;
    while (!at_end()) {
      skip_spaces();
      if (at_end() || peek() == u')') break;
      size_t start = pos_;
      while (!at_end() && peek() != u' ' && peek() != u'"') ++pos_;
      TextView word = text_.substr(start, pos_ - start);
      bool next = false;
      if (word != u"and" && word != u"or") return false;
      if (!operand(next)) return false;
      value = word == u"and" ? (value && next) : (value || next);
    }
    return true;
  }

  bool quoted(Text& out) {
    if (peek() != u'"') return false;
    ++pos_;
    while (!at_end()) {
      char16_t c = text_[pos_++];
      if (c != u'"') {
        out.push_back(c);
      } else if (peek() == u'"') {
        out.push_back(u'"');
        ++pos_;
      } else {
        return true;
      }
    }
    return false;
  }

  static bool whole_number(TextView s) {
    if (s.empty()) return false;
    size_t i = (s[0] == u'+' || s[0] == u'-') ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
      if (s[i] < u'0' || s[i] > u'9') return false;
    return true;
  }

  bool comparison(bool& value) {
    Text left, right;
    if (!quoted(left)) return false;
    skip_spaces();
    size_t start = pos_;
    while (!at_end() && peek() != u' ' && peek() != u'"') ++pos_;
    TextView op = text_.substr(start, pos_ - start);
    skip_spaces();
    if (!quoted(right)) return false;
    skip_spaces();
    int order = 0;
    if (whole_number(left) && whole_number(right)) {
      auto a = parse_int32(left), b = parse_int32(right);
      if (!a || !b) throw NumberTooLarge{};
      order = *a < *b ? -1 : *a > *b ? 1 : 0;
    } else {
      order = left < right ? -1 : left > right ? 1 : 0;
    }
    if (op == u"=") value = order == 0;
    else if (op == u"<>") value = order != 0;
    else if (op == u"<=") value = order <= 0;
    else if (op == u"<") value = order < 0;
    else if (op == u">=") value = order >= 0;
    else if (op == u">") value = order > 0;
    else return false;
    return true;
  }

  TextView text_;
  size_t pos_ = 0;
};

}  // namespace

Text evaluate_expression(TextView expression) {
  Text whole = u"(" + Text(expression) + u")";
  try {
    return Evaluator(whole).run();
  } catch (const NumberTooLarge&) {
    throw ScriptError(u"Number out of range in expression: " + Text(expression));
  }
}

bool expression_syntax_valid(TextView expression) {
  Text whole = u"(" + replace_all(expression, u"$", u"\"") + u")";
  try {
    return Evaluator(whole).run() != u"ERROR";
  } catch (const NumberTooLarge&) {
    return true;  // well formed; the number is a run-time matter
  }
}

}  // namespace kyt
