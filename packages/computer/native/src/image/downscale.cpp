#include "image/downscale.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace kestrum::computer {
namespace {

// Products of two sides can pass 64 bits for absurd sizes; the quotients
// taken from them never do.
__extension__ typedef unsigned __int128 Wide;

struct Block {
  std::uint64_t start = 0;
  std::uint64_t count = 0;
};

// A positive side never rounds up to 0, so the raise to 1 could only apply
// to a side of 0, which stays 0 here: there is nothing to make a pixel of.
std::uint64_t scaled_side(std::uint64_t side, std::uint64_t max_side, std::uint64_t longer) {
  if (side == 0) return 0;
  return static_cast<std::uint64_t>((Wide{side} * max_side + longer - 1) / longer);
}

// Output index i covers source [i × source ÷ target, (i + 1) × source ÷
// target), at least one wide. With target ≤ source every width is one of
// the two integers around source ÷ target.
std::vector<Block> blocks(std::uint64_t source, std::uint64_t target) {
  std::vector<Block> out(target);
  for (std::uint64_t i = 0; i < target; ++i) {
    const auto start = static_cast<std::uint64_t>(Wide{i} * source / target);
    const auto end = static_cast<std::uint64_t>(Wide{i + 1} * source / target);
    out[i] = {start, std::max(end, start + 1) - start};
  }
  return out;
}

std::uint64_t widest(const std::vector<Block>& blocks) {
  std::uint64_t most = 0;
  for (const Block& block : blocks) most = std::max(most, block.count);
  return most;
}

std::uint64_t narrowest(const std::vector<Block>& blocks) {
  std::uint64_t least = UINT64_MAX;
  for (const Block& block : blocks) least = std::min(least, block.count);
  return least;
}

// A division per byte would cost more than all the additions, so the
// average becomes a multiply and a shift. For a block of d pixels every
// byte sum n is at most 255 × d; with m = ceil(2^s ÷ d), n × m ÷ 2^s
// exceeds n ÷ d by less than 1/d once 2^s > 255 × d × (d − 1), which
// keeps the truncated quotient exact.
std::uint64_t reciprocal(std::uint64_t d, unsigned shift) {
  return ((std::uint64_t{1} << shift) + d - 1) / d;
}

// The exact quotient for one block size, any sum type. Blocks too large for
// a 64-bit product divide.
class BlockDivider {
 public:
  explicit BlockDivider(std::uint64_t d) : divisor_(d) {
    if (d >= (std::uint64_t{1} << 32)) return;
    const Wide bound = Wide{255} * d * (d - 1);
    unsigned shift = 0;
    while ((Wide{1} << shift) <= bound) ++shift;
    if (shift > kMaxShift) return;
    shift_ = shift;
    multiplier_ = reciprocal(d, shift);
  }
  std::uint64_t operator()(std::uint64_t n) const {
    return multiplier_ != 0 ? (n * multiplier_) >> shift_ : n / divisor_;
  }

 private:
  // Keeps 255 × d × multiplier below 2^64.
  static constexpr unsigned kMaxShift = 55;
  std::uint64_t divisor_;
  std::uint64_t multiplier_ = 0;
  unsigned shift_ = 0;
};

// Blocks of 2 to 16 pixels have 16-bit sums, and a shift of 16 is exact for
// them (255 × 16 × 15 < 2^16), so their averages are a 16-bit multiply-high,
// eight bytes to one vector instruction on common hardware.
constexpr std::uint64_t kLaneBlockMin = 2;
constexpr std::uint64_t kLaneBlockMax = 16;
constexpr unsigned kLaneShift = 16;

// The divisors of every column for one block height.
struct RowDivisors {
  std::uint64_t block_height = 0;
  std::vector<BlockDivider> each;    // per column
  std::vector<std::uint16_t> lanes;  // per output byte; empty unless all blocks fit a lane
};

RowDivisors make_divisors(const std::vector<Block>& columns, std::uint64_t block_height) {
  RowDivisors made{block_height, {}, {}};
  made.each.reserve(columns.size());
  bool fit = true;
  for (const Block& column : columns) {
    const std::uint64_t d = column.count * block_height;
    made.each.emplace_back(d);
    fit = fit && d >= kLaneBlockMin && d <= kLaneBlockMax;
  }
  if (!fit) return made;
  made.lanes.reserve(columns.size() * 4);
  for (const Block& column : columns) {
    const auto m = static_cast<std::uint16_t>(reciprocal(column.count * block_height, kLaneShift));
    made.lanes.insert(made.lanes.end(), 4, m);
  }
  return made;
}

// The blocks of one reduction. Block heights take at most two values, so
// their divisors are made once each.
class Plan {
 public:
  Plan(const PixelImage& source, std::uint64_t width, std::uint64_t height)
      : columns(blocks(source.width, width)),
        rows(blocks(source.height, height)),
        narrowest_column(narrowest(columns)) {}

  const RowDivisors& divisors(std::uint64_t block_height) {
    for (const RowDivisors& made : made_)
      if (made.block_height == block_height) return made;
    return made_.emplace_back(make_divisors(columns, block_height));
  }

  const std::vector<Block> columns;
  const std::vector<Block> rows;
  const std::uint64_t narrowest_column;

 private:
  std::vector<RowDivisors> made_;
};

// Column sums of a band of rows, each source byte read once. The first
// pass adds up to three rows, so the usual band of two or three rows
// writes its sums once.
template <class Sum>
void sum_band(const std::uint8_t* first, std::uint64_t count, std::uint64_t row_bytes, Sum* sums) {
  const std::uint8_t* a = first;
  if (count == 1) {
    for (std::uint64_t i = 0; i < row_bytes; ++i) sums[i] = a[i];
  } else if (count == 2) {
    const std::uint8_t* b = a + row_bytes;
    for (std::uint64_t i = 0; i < row_bytes; ++i) sums[i] = static_cast<Sum>(a[i] + b[i]);
  } else {
    const std::uint8_t* b = a + row_bytes;
    const std::uint8_t* c = b + row_bytes;
    for (std::uint64_t i = 0; i < row_bytes; ++i) sums[i] = static_cast<Sum>(a[i] + b[i] + c[i]);
  }
  for (std::uint64_t row = 3; row < count; ++row) {
    const std::uint8_t* more = first + row * row_bytes;
    for (std::uint64_t i = 0; i < row_bytes; ++i) sums[i] = static_cast<Sum>(sums[i] + more[i]);
  }
}

// Every column block is the narrowest width or one pixel wider. That last
// pixel is masked in, not branched on: the widths alternate in no pattern
// a branch predictor follows. A fixed width (kWidth > 0) lets the compiler
// unroll the loop. Locals hold what the loop reads so that the stores
// cannot force reloads.
template <class Sum, std::uint64_t kWidth>
void block_totals_of(const Sum* sums, const Plan& plan, Sum* totals) {
  const std::uint64_t width = kWidth != 0 ? kWidth : plan.narrowest_column;
  const Block* columns = plan.columns.data();
  for (std::size_t x = 0; x < plan.columns.size(); ++x) {
    const Block column = columns[x];
    const Sum* pixel = sums + column.start * 4;
    const auto last = static_cast<Sum>(Sum{0} - static_cast<Sum>(column.count - width));
    Sum total[4];
    for (int c = 0; c < 4; ++c) total[c] = pixel[width * 4 + c] & last;
    for (std::uint64_t k = 0; k < width; ++k, pixel += 4)
      for (int c = 0; c < 4; ++c) total[c] = static_cast<Sum>(total[c] + pixel[c]);
    std::memcpy(totals + x * 4, total, sizeof total);
  }
}

template <class Sum>
void block_totals(const Sum* sums, const Plan& plan, Sum* totals) {
  // Captures scaled by 1 to 4 have blocks of these widths.
  if (plan.narrowest_column == 1) return block_totals_of<Sum, 1>(sums, plan, totals);
  if (plan.narrowest_column == 2) return block_totals_of<Sum, 2>(sums, plan, totals);
  if (plan.narrowest_column == 3) return block_totals_of<Sum, 3>(sums, plan, totals);
  block_totals_of<Sum, 0>(sums, plan, totals);
}

template <class Sum>
void divide_row(const Sum* totals, const RowDivisors& divisors, std::size_t bytes,
                std::uint8_t* out) {
  const BlockDivider* each = divisors.each.data();
  for (std::size_t i = 0; i < bytes; ++i)
    out[i] = static_cast<std::uint8_t>(each[i / 4](totals[i]));
}

void divide_row(const std::uint16_t* totals, const RowDivisors& divisors, std::size_t bytes,
                std::uint8_t* out) {
  if (divisors.lanes.empty()) return divide_row<std::uint16_t>(totals, divisors, bytes, out);
  const std::uint16_t* lanes = divisors.lanes.data();
  for (std::size_t i = 0; i < bytes; ++i)
    out[i] = static_cast<std::uint8_t>((std::uint32_t{totals[i]} * lanes[i]) >> kLaneShift);
}

template <class Sum>
void reduce(const PixelImage& source, Plan& plan, std::uint8_t* out) {
  const std::uint64_t row_bytes = source.width * 4;
  const std::size_t out_row = plan.columns.size() * 4;
  // One pixel more than a row: the masked read past a narrow last block.
  std::vector<Sum> sums(row_bytes + 4, 0);
  std::vector<Sum> totals(out_row);
  for (const Block& band : plan.rows) {
    sum_band(source.pixels.data() + band.start * row_bytes, band.count, row_bytes, sums.data());
    block_totals(sums.data(), plan, totals.data());
    divide_row(totals.data(), plan.divisors(band.count), out_row, out);
    out += out_row;
  }
}

}  // namespace

PixelImage downscale(PixelImage image, std::uint64_t max_side) {
  const std::uint64_t longer = std::max(image.width, image.height);
  if (max_side == 0 || longer <= max_side) return image;
  const std::uint64_t width = scaled_side(image.width, max_side, longer);
  const std::uint64_t height = scaled_side(image.height, max_side, longer);
  PixelImage scaled{std::vector<std::uint8_t>(width * height * 4), width, height};
  if (scaled.pixels.empty()) return scaled;
  Plan plan(image, width, height);
  // The narrowest sums that cannot overflow: narrower sums are less memory
  // traffic and more of them to a vector register.
  const Wide largest = Wide{widest(plan.columns)} * widest(plan.rows) * 255;
  if (largest <= UINT16_MAX)
    reduce<std::uint16_t>(image, plan, scaled.pixels.data());
  else if (largest <= UINT32_MAX)
    reduce<std::uint32_t>(image, plan, scaled.pixels.data());
  else
    reduce<std::uint64_t>(image, plan, scaled.pixels.data());
  return scaled;
}

}  // namespace kestrum::computer
