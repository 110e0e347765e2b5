// The unified diff of a repair. Lines common to the start and the end are
// set aside first; the rest is matched with the greedy shortest edit script
// (Myers, 1986), whose trace is kept only up to a bound. Past it, as when
// every line changed with the file's encoding, the rest is all removed and
// all added, which is what the shortest script comes to there anyway.
#include "unified_diff.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

enum class op : std::uint8_t { keep, remove, add };

struct step {
  op what;
  std::size_t before, after; // the lines' indexes
};

} // namespace

static std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t lf = text.find('\n', at);
    std::size_t end = lf == std::string::npos ? text.size() : lf + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// The most edits whose trace is kept: the trace grows as their square.
static constexpr std::ptrdiff_t max_edits = 2000;

// The steps from a[lo_a, hi_a) to b[lo_b, hi_b), appended to out.
static void middle(const std::vector<std::string> &a, const std::vector<std::string> &b,
                   std::size_t lo_a, std::size_t hi_a, std::size_t lo_b, std::size_t hi_b,
                   std::vector<step> &out) {
  auto n = static_cast<std::ptrdiff_t>(hi_a - lo_a), m = static_cast<std::ptrdiff_t>(hi_b - lo_b);
  std::ptrdiff_t most = std::min(n + m, max_edits), off = most + 1;
  std::vector<std::ptrdiff_t> v(static_cast<std::size_t>(2 * most + 3), 0);
  std::vector<std::vector<std::ptrdiff_t>> trace;
  auto x_at = [&](std::ptrdiff_t k) -> std::ptrdiff_t & {
    return v[static_cast<std::size_t>(k + off)];
  };
  std::ptrdiff_t found = -1;
  for (std::ptrdiff_t d = 0; d <= most && found < 0; ++d) {
    for (std::ptrdiff_t k = -d; k <= d; k += 2) {
      std::ptrdiff_t x =
          k == -d || (k != d && x_at(k - 1) < x_at(k + 1)) ? x_at(k + 1) : x_at(k - 1) + 1;
      std::ptrdiff_t y = x - k;
      while (x < n && y < m &&
             a[lo_a + static_cast<std::size_t>(x)] == b[lo_b + static_cast<std::size_t>(y)]) {
        ++x, ++y;
      }
      x_at(k) = x;
      if (x >= n && y >= m) {
        found = d;
        break;
      }
    }
    trace.push_back(v);
  }
  if (found < 0) {
    for (std::size_t i = lo_a; i < hi_a; ++i) {
      out.push_back({op::remove, i, lo_b});
    }
    for (std::size_t j = lo_b; j < hi_b; ++j) {
      out.push_back({op::add, hi_a, j});
    }
    return;
  }
  // Back from the end through the trace, then the steps in order.
  std::vector<step> back;
  std::ptrdiff_t x = n, y = m;
  for (std::ptrdiff_t d = found; d > 0; --d) {
    const std::vector<std::ptrdiff_t> &pv = trace[static_cast<std::size_t>(d - 1)];
    auto px = [&](std::ptrdiff_t k) { return pv[static_cast<std::size_t>(k + off)]; };
    std::ptrdiff_t k = x - y;
    bool down = k == -d || (k != d && px(k - 1) < px(k + 1));
    std::ptrdiff_t pk = down ? k + 1 : k - 1, sx = px(pk), sy = sx - pk;
    while (x > (down ? sx : sx + 1) && y > (down ? sy + 1 : sy)) {
      --x, --y;
      back.push_back(
          {op::keep, lo_a + static_cast<std::size_t>(x), lo_b + static_cast<std::size_t>(y)});
    }
    if (down) {
      --y;
      back.push_back(
          {op::add, lo_a + static_cast<std::size_t>(x), lo_b + static_cast<std::size_t>(y)});
    } else {
      --x;
      back.push_back(
          {op::remove, lo_a + static_cast<std::size_t>(x), lo_b + static_cast<std::size_t>(y)});
    }
  }
  while (x > 0 && y > 0) {
    --x, --y;
    back.push_back(
        {op::keep, lo_a + static_cast<std::size_t>(x), lo_b + static_cast<std::size_t>(y)});
  }
  out.insert(out.end(), back.rbegin(), back.rend());
}

static void put_line(std::string &out, char mark, const std::string &line) {
  out += mark;
  out += line;
  if (line.empty() || line.back() != '\n') {
    out += "\n\\ No newline at end of file\n";
  }
}

std::string unified_diff(const std::string &name, const std::string &before,
                         const std::string &after) {
  if (before == after) {
    return {};
  }
  std::vector<std::string> a = lines_of(before), b = lines_of(after);
  std::size_t head = 0, tail = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) {
    ++head;
  }
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  std::vector<step> steps;
  for (std::size_t i = 0; i < head; ++i) {
    steps.push_back({op::keep, i, i});
  }
  middle(a, b, head, a.size() - tail, head, b.size() - tail, steps);
  for (std::size_t i = 0; i < tail; ++i) {
    steps.push_back({op::keep, a.size() - tail + i, b.size() - tail + i});
  }
  // Hunks: the changes with three lines of context, joined where their
  // contexts touch.
  constexpr std::size_t context = 3;
  std::string out = "--- " + name + "\n+++ " + name + "\n";
  for (std::size_t i = 0; i < steps.size();) {
    if (steps[i].what == op::keep) {
      ++i;
      continue;
    }
    std::size_t start = i >= context ? i - context : 0, last = i;
    for (std::size_t j = i + 1; j < steps.size();) {
      if (steps[j].what != op::keep) {
        last = j++;
        continue;
      }
      std::size_t run = j;
      while (run < steps.size() && steps[run].what == op::keep) {
        ++run;
      }
      if (run == steps.size() || run - j > 2 * context) {
        break;
      }
      j = run;
    }
    std::size_t end = std::min(steps.size(), last + 1 + context);
    std::size_t old_start = steps[start].before, new_start = steps[start].after;
    std::size_t old_count = 0, new_count = 0;
    for (std::size_t s = start; s < end; ++s) {
      old_count += steps[s].what != op::add;
      new_count += steps[s].what != op::remove;
    }
    // An empty side is numbered by the line before it, as diff does.
    out += "@@ -" + std::to_string(old_count == 0 ? old_start : old_start + 1);
    out += old_count == 1 ? "" : "," + std::to_string(old_count);
    out += " +" + std::to_string(new_count == 0 ? new_start : new_start + 1);
    out += new_count == 1 ? "" : "," + std::to_string(new_count);
    out += " @@\n";
    for (std::size_t s = start; s < end; ++s) {
      const step &st = steps[s];
      put_line(out,
               st.what == op::keep     ? ' '
               : st.what == op::remove ? '-'
                                       : '+',
               st.what == op::add ? b[st.after] : a[st.before]);
    }
    i = end;
  }
  return out;
}
