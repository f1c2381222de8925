// Reads a date text against an APEX (Oracle) format mask, the way a date picker item would
// have to parse it: the layout first (digits, month names, separators in their places),
// then whether the day, month and time it names exist.
#include "conferencia.hpp"

#include <cctype>
#include <cstring>

namespace zv::vc::cf {

namespace {

enum class Tok { year4, year2, month_num, month_abbr, month_name, day, day_of_week, day_name,
                 hour24, hour12, minute, second, meridian, meridian_dots, literal, skip };

struct Piece {
  Tok tok;
  std::string lit;  // for literal: the text to find
};

bool starts_with_ci(std::string_view s, std::size_t at, const char* word) {
  std::size_t n = std::strlen(word);
  if (at + n > s.size()) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(s[at + i])) != word[i]) return false;
  return true;
}

// The format mask as a list of pieces; longer element names are tried first.
std::vector<Piece> parse_format(std::string_view f) {
  static constexpr struct {
    const char* word;
    Tok tok;
  } kElements[] = {
      {"YYYY", Tok::year4},  {"RRRR", Tok::year4},       {"MONTH", Tok::month_name},
      {"MON", Tok::month_abbr}, {"HH24", Tok::hour24},   {"HH12", Tok::hour12},
      {"HH", Tok::hour12},   {"MI", Tok::minute},        {"SS", Tok::second},
      {"MM", Tok::month_num}, {"DAY", Tok::day_name},    {"DY", Tok::day_name},
      {"DD", Tok::day},      {"YY", Tok::year2},         {"RR", Tok::year2},
      {"A.M.", Tok::meridian_dots}, {"P.M.", Tok::meridian_dots},
      {"AM", Tok::meridian}, {"PM", Tok::meridian},      {"FX", Tok::skip},
      {"FM", Tok::skip},     {"D", Tok::day_of_week},
  };
  std::vector<Piece> out;
  std::size_t i = 0;
  while (i < f.size()) {
    if (f[i] == '"') {  // quoted literal text
      std::size_t end = f.find('"', i + 1);
      if (end == std::string_view::npos) end = f.size();
      out.push_back({Tok::literal, std::string(f.substr(i + 1, end - i - 1))});
      i = end + 1;
      continue;
    }
    bool matched = false;
    for (const auto& e : kElements) {
      if (starts_with_ci(f, i, e.word)) {
        if (e.tok != Tok::skip) out.push_back({e.tok, {}});
        i += std::strlen(e.word);
        matched = true;
        break;
      }
    }
    if (matched) continue;
    out.push_back({Tok::literal, std::string(1, f[i])});
    ++i;
  }
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
// A letter, counting every byte of a UTF-8 sequence (accented month names) as one.
bool is_letter(char c) {
  auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) || u >= 0x80;
}

// Month abbreviations in English, Portuguese and Spanish; index + 1 is the month.
int month_of_abbr(std::string_view a) {
  static constexpr const char* kNames[3][12] = {
      {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"},
      {"JAN", "FEV", "MAR", "ABR", "MAI", "JUN", "JUL", "AGO", "SET", "OUT", "NOV", "DEZ"},
      {"ENE", "FEB", "MAR", "ABR", "MAY", "JUN", "JUL", "AGO", "SEP", "OCT", "NOV", "DIC"},
  };
  if (a.size() != 3) return 0;
  for (const auto& lang : kNames)
    for (int m = 0; m < 12; ++m)
      if (starts_with_ci(a, 0, lang[m])) return m + 1;
  return 0;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int days_in(int m, int y) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && (y < 0 || leap(y))) return 29;  // an unknown year allows 29 February
  return kDays[m - 1];
}

std::string num(int v) { return std::to_string(v); }

}  // namespace

DateCheck check_date_text(std::string_view format, std::string_view t) {
  const std::string layout = "não segue o formato " + std::string(format);
  std::vector<Piece> pieces = parse_format(format);
  int day = -1, month = -1, year = -1, hour = -1, hour12 = -1, minute = -1, second = -1;
  std::string abbr;
  std::size_t i = 0;

  // Reads between lo and hi digits at i.
  auto digits = [&](int lo, int hi, int& value) {
    int n = 0, v = 0;
    while (n < hi && i < t.size() && is_digit(t[i])) {
      v = v * 10 + (t[i] - '0');
      ++i;
      ++n;
    }
    if (n < lo) return false;
    value = v;
    return true;
  };
  auto letters = [&](std::size_t lo, std::size_t hi, std::string& word) {
    std::size_t start = i;
    while (i < t.size() && i - start < hi && is_letter(t[i])) ++i;
    if (i - start < lo) return false;
    word.assign(t.substr(start, i - start));
    return true;
  };

  for (const Piece& p : pieces) {
    bool ok = true;
    int ignored = 0;
    std::string word;
    switch (p.tok) {
      case Tok::year4: ok = digits(4, 4, year); break;
      case Tok::year2: ok = digits(2, 2, year); if (ok) year += 2000; break;
      case Tok::month_num: ok = digits(1, 2, month); break;
      case Tok::month_abbr:
        ok = letters(3, 3, abbr);
        if (ok) {
          month = month_of_abbr(abbr);
          if (month == 0) return {false, "mês \"" + abbr + "\" desconhecido"};
        }
        break;
      case Tok::month_name: ok = letters(1, 64, word); break;
      case Tok::day: ok = digits(1, 2, day); break;
      case Tok::day_of_week: ok = digits(1, 1, ignored); break;
      case Tok::day_name: ok = letters(1, 64, word); break;
      case Tok::hour24: ok = digits(1, 2, hour); break;
      case Tok::hour12: ok = digits(1, 2, hour12); break;
      case Tok::minute: ok = digits(1, 2, minute); break;
      case Tok::second: ok = digits(1, 2, second); break;
      case Tok::meridian:
        ok = i + 2 <= t.size() && (starts_with_ci(t, i, "AM") || starts_with_ci(t, i, "PM"));
        if (ok) i += 2;
        break;
      case Tok::meridian_dots:
        ok = i + 4 <= t.size() && (starts_with_ci(t, i, "A.M.") || starts_with_ci(t, i, "P.M."));
        if (ok) i += 4;
        break;
      case Tok::literal:
        ok = t.substr(i, p.lit.size()) == p.lit ||
             (p.lit.size() == 1 && i < t.size() && is_letter(p.lit[0]) &&
              std::toupper(static_cast<unsigned char>(t[i])) ==
                  std::toupper(static_cast<unsigned char>(p.lit[0])));
        if (ok) i += p.lit.size();
        break;
      case Tok::skip: break;
    }
    if (!ok) return {false, layout};
  }
  if (i != t.size()) return {false, layout};

  if (month != -1 && (month < 1 || month > 12)) return {false, "mês " + num(month) + " não existe"};
  if (day != -1) {
    if (day < 1 || day > 31) return {false, "dia " + num(day) + " não existe"};
    if (month != -1 && day > days_in(month, year))
      return {false, "o mês " + num(month) + (year != -1 ? "/" + num(year) : "") + " não tem dia " + num(day)};
  }
  if (hour != -1 && hour > 23) return {false, "hora " + num(hour) + " não existe"};
  if (hour12 != -1 && (hour12 < 1 || hour12 > 12)) return {false, "hora " + num(hour12) + " não existe"};
  if (minute != -1 && minute > 59) return {false, "minuto " + num(minute) + " não existe"};
  if (second != -1 && second > 59) return {false, "segundo " + num(second) + " não existe"};
  return {true, {}};
}

}  // namespace zv::vc::cf
