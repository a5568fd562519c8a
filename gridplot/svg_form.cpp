#include "svg_form.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "descriptor_io.hpp"

namespace gridplot {

namespace {

constexpr std::size_t BLOCK = 1 << 16;
constexpr std::size_t DEEPEST = 256;  // elements open at once; gnuplot nests a few

// The file's characters, one at a time, as decoded UTF-8: a byte sequence
// that is not UTF-8, or a character XML does not allow (the controls other
// than tab and the line ends, surrogates, U+FFFE, U+FFFF), ends the text
// with `bad` set.
class Characters {
 public:
  explicit Characters(int fd) : fd_(fd), block_(BLOCK, '\0') {}

  // The next character, or -1 at the end (or at a fault).
  long next() {
    const long c = peek();
    have_ = false;
    return c;
  }

  long peek() {
    if (!have_) {
      ahead_ = decode();
      have_ = true;
    }
    return ahead_;
  }

  bool bad = false;

 private:
  int byte() {
    if (at_ == size_) {
      const ssize_t got = pcgrid::read_some(fd_, block_.data(), block_.size());
      if (got <= 0) {
        bad = bad || got < 0;
        return -1;
      }
      at_ = 0;
      size_ = static_cast<std::size_t>(got);
    }
    return static_cast<unsigned char>(block_[at_++]);
  }

  long fault() {
    bad = true;
    return -1;
  }

  long decode() {
    if (bad) return -1;
    const int first = byte();
    if (first < 0) return -1;
    long c = first;
    int more = 0;
    long least = 0;  // the smallest character of its length: no overlong forms
    if (first >= 0xf0 && first <= 0xf4) {
      c = first & 0x07;
      more = 3;
      least = 0x10000;
    } else if (first >= 0xe0) {
      c = first & 0x0f;
      more = 2;
      least = 0x800;
    } else if (first >= 0xc2 && first < 0xe0) {
      c = first & 0x1f;
      more = 1;
      least = 0x80;
    } else if (first >= 0x80) {
      return fault();
    }
    for (; more > 0; --more) {
      const int next = byte();
      if (next < 0 || (next & 0xc0) != 0x80) return fault();
      c = c << 6 | (next & 0x3f);
    }
    const bool allowed = (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c >= least &&
                         !(c >= 0xd800 && c <= 0xdfff) && c != 0xfffe && c != 0xffff &&
                         c <= 0x10ffff;
    return allowed ? c : fault();
  }

  int fd_;
  std::string block_;
  std::size_t at_ = 0, size_ = 0;
  long ahead_ = -1;
  bool have_ = false;
};

bool is_space(long c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Letters, digits and the marks of XML names; any character beyond ASCII
// is taken as a name character.
bool is_name_start(long c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool is_name_char(long c) {
  return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A checker of the XML of one document: the text, attributes, references,
// comments, CDATA sections, processing instructions and a document type
// declaration, and elements that close in the order they opened.
class Checker {
 public:
  explicit Checker(int fd) : in_(fd) {}

  bool document() {
    bool root_seen = false;
    while (in_.peek() >= 0) {
      const long c = in_.next();
      if (is_space(c)) continue;
      if (c != '<') return false;
      if (in_.peek() == '?' || in_.peek() == '!') {
        if (!markup(root_seen)) return false;
        continue;
      }
      if (root_seen || !element()) return false;
      root_seen = true;
    }
    return root_seen && !in_.bad && root_ == "svg";
  }

 private:
  bool expect(std::string_view text) {
    for (const char c : text) {
      if (in_.next() != c) return false;
    }
    return true;
  }

  bool name(std::string& into) {
    into.clear();
    if (!is_name_start(in_.peek())) return false;
    while (is_name_char(in_.peek())) into += static_cast<char>(in_.next() & 0x7f);
    return true;
  }

  void spaces() {
    while (is_space(in_.peek())) in_.next();
  }

  // After '&': a named or numeric reference and its ';'.
  bool reference() {
    if (in_.peek() == '#') {
      in_.next();
      const bool hex = in_.peek() == 'x';
      if (hex) in_.next();
      long value = 0;
      int digits = 0;
      for (long c; (c = in_.next()) != ';'; ++digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = static_cast<int>(c - '0');
        if (hex && c >= 'a' && c <= 'f') digit = static_cast<int>(c - 'a' + 10);
        if (hex && c >= 'A' && c <= 'F') digit = static_cast<int>(c - 'A' + 10);
        if (digit < 0 || value > 0x10ffff) return false;
        value = value * (hex ? 16 : 10) + digit;
      }
      return digits > 0 && (value >= 0x20 || value == '\t' || value == '\n' || value == '\r') &&
             !(value >= 0xd800 && value <= 0xdfff) && value != 0xfffe && value != 0xffff &&
             value <= 0x10ffff;
    }
    std::string entity;
    if (!name(entity) || in_.next() != ';') return false;
    return entity == "lt" || entity == "gt" || entity == "amp" || entity == "quot" ||
           entity == "apos";
  }

  // Until `end`, which is consumed; false at the end of the file.
  bool skip_past(std::string_view end) {
    std::string recent;
    for (long c; (c = in_.next()) >= 0;) {
      recent += static_cast<char>(c < 0x80 ? c : 0x7f);
      if (recent.size() > end.size()) recent.erase(0, 1);
      if (recent == end) return true;
    }
    return false;
  }

  // After '<' with '?' or '!' next: a processing instruction, a comment,
  // a CDATA section (only inside the root) or the document type (only
  // before it).
  bool markup(bool in_root_or_after) {
    if (in_.next() == '?') return skip_past("?>");
    if (in_.peek() == '-') return expect("--") && comment();
    if (in_.peek() == '[') return depth_ > 0 && expect("[CDATA[") && skip_past("]]>");
    return !in_root_or_after && depth_ == 0 && expect("DOCTYPE") && doctype();
  }

  bool comment() {
    for (long c; (c = in_.next()) >= 0;) {
      if (c == '-' && in_.peek() == '-') {
        in_.next();
        return in_.next() == '>';
      }
    }
    return false;
  }

  // The rest of "<!DOCTYPE ...>": quoted literals and an internal subset
  // in brackets are passed over whole.
  bool doctype() {
    bool subset = false;
    for (long c; (c = in_.next()) >= 0;) {
      if (c == '"' || c == '\'') {
        for (long q; (q = in_.next()) != c;) {
          if (q < 0) return false;
        }
      } else if (c == '[') {
        subset = true;
      } else if (c == ']') {
        subset = false;
      } else if (c == '>' && !subset) {
        return true;
      }
    }
    return false;
  }

  // After '<' of an element: its attributes, then its content and its end.
  bool element() {
    std::string tag;
    if (!name(tag)) return false;
    if (depth_ == 0) root_ = tag;
    seen_.clear();  // attributes are done before the content's elements reuse it
    for (;;) {
      const bool spaced = is_space(in_.peek());
      spaces();
      const long c = in_.peek();
      if (c == '/') {
        in_.next();
        return in_.next() == '>';
      }
      if (c == '>') {
        in_.next();
        break;
      }
      std::string attribute;
      if (!spaced || !name(attribute)) return false;
      for (const std::string& s : seen_) {
        if (s == attribute) return false;
      }
      seen_.push_back(attribute);
      spaces();
      if (in_.next() != '=') return false;
      spaces();
      const long quote = in_.next();
      if (quote != '"' && quote != '\'') return false;
      for (long v; (v = in_.next()) != quote;) {
        if (v < 0 || v == '<' || (v == '&' && !reference())) return false;
      }
    }
    if (++depth_ > DEEPEST) return false;
    const bool whole = content(tag);
    --depth_;
    return whole;
  }

  // An element's content, through its end tag.
  bool content(const std::string& tag) {
    int brackets = 0;  // ']' just before, for "]]>" in text
    for (long c; (c = in_.next()) >= 0;) {
      if (c == '&') {
        if (!reference()) return false;
      } else if (c == '>' && brackets >= 2) {
        return false;
      } else if (c == '<') {
        if (in_.peek() == '/') {
          in_.next();
          std::string end;
          if (!name(end) || end != tag) return false;
          spaces();
          return in_.next() == '>';
        }
        if (in_.peek() == '?' || in_.peek() == '!') {
          if (!markup(true)) return false;
        } else if (!element()) {
          return false;
        }
      }
      brackets = c == ']' ? brackets + 1 : 0;
    }
    return false;
  }

  Characters in_;
  std::string root_;
  std::vector<std::string> seen_;  // the attributes of the element being read
  std::size_t depth_ = 0;
};

}  // namespace

namespace {

// Each `from` of `text` replaced by `to`, into `out`.
void replace_all(const std::string& text, std::string_view from, std::string_view to,
                 std::string& out) {
  out.clear();
  out.reserve(text.size() + text.size() / 8);
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string::npos;
       start = at + from.size()) {
    out.append(text, start, at - start);
    out += to;
  }
  out.append(text, start);
}

}  // namespace

bool rewrite_svg(const std::string& path) {
  constexpr std::string_view END = "]]>";
  constexpr std::string_view BOLD = "font-family=\"sans-serif:Bold\"";
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char block[BLOCK];
  ssize_t got = 0;
  while ((got = pcgrid::read_some(fd, block, sizeof block)) > 0) {
    text.append(block, static_cast<std::size_t>(got));
  }
  bool done = got == 0;
  const bool ends =
      text.find(END) != std::string::npos && text.find("<![CDATA[") == std::string::npos;
  const bool bold = text.find(BOLD) != std::string::npos;
  if (done && (ends || bold)) {
    std::string rewritten;
    if (ends) {
      replace_all(text, END, "]]&gt;", rewritten);
      text.swap(rewritten);
    }
    if (bold) {
      replace_all(text, BOLD, "font-family=\"sans-serif\" font-weight=\"bold\"", rewritten);
      text.swap(rewritten);
    }
    done = ::lseek(fd, 0, SEEK_SET) == 0 && pcgrid::write_fully(fd, text.data(), text.size()) == 0;
  }
  return ::close(fd) == 0 && done;
}

bool svg_is_well_formed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  Checker checker(fd);
  const bool whole = checker.document();
  ::close(fd);
  return whole;
}

}  // namespace gridplot
