// The two icons: the program icon (the logo on black) and the dialog's creature picture.
#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "tools/artwork/logo.h"
#include "tools/artwork/pictures.h"

namespace artwork {
namespace {

// The logo again at about a sixth of its size. Scaled evenly its marks would touch, so the icon
// keeps the bars' slopes and colours but draws them 4 px wide (3 of colour, 1 of edge) and 6 px
// apart. Icon rows 2-29 show the logo's 150 rows; column 1 shows the logo's left edge.
constexpr int kIconLogoTop = 2;
constexpr int kIconLogoRows = 28;
constexpr int kIconLogoLeft = 1;
constexpr int kLogoPixelsPerIconColumn = 6;
constexpr int kIconBarWidth = 4;
constexpr int kIconColourWidth = 3;
constexpr int kIconMarkShift = 6;

// The logo row that icon row `row` shows: the middle of its share of the logo's rows.
int LogoRowOf(int row) {
  constexpr int kLogoRows = kLogoBottom - kLogoTop + 1;
  return kLogoTop + ((row - kIconLogoTop) * kLogoRows + kLogoRows / 2) / kIconLogoRows;
}

int IconColumnOf(int logoX) {
  return kIconLogoLeft +
         (logoX - kLogoLeft + kLogoPixelsPerIconColumn / 2) / kLogoPixelsPerIconColumn;
}

rt::Picture DrawIconLogo() {
  rt::Picture icon{kIconSide, kIconSide, {}};
  icon.pixels.assign(kIconSide * kIconSide, kBlack);
  // The right mark first, so that the left one lies in front where they cross.
  for (int shift : {kIconMarkShift, 0}) {
    for (int row = kIconLogoTop; row < kIconLogoTop + kIconLogoRows; ++row) {
      const int y = LogoRowOf(row);
      // Paints columns [from, to) of the bar whose left edge is `left`.
      const auto paint = [&](std::span<const Band> bands, int left, int from, int to) {
        for (int x = from; x < to; ++x) {
          const int logoX = kLogoLeft + (x - kIconLogoLeft) * kLogoPixelsPerIconColumn;
          icon.pixels[static_cast<std::size_t>(row) * kIconSide + x] =
              x - left < kIconColourWidth ? BandColour(bands, logoX, y) : kGreyLight;
        }
      };
      const int longLeft = IconColumnOf(LongBarLeft(y)) + shift;
      int joint = longLeft;
      if (y >= kShortBarTop) {
        const int shortLeft = IconColumnOf(ShortBarLeft(y)) + shift;
        joint = JointColumn(longLeft, shortLeft, kIconBarWidth);
        paint(kShortBarBands, shortLeft, shortLeft, std::min(shortLeft + kIconBarWidth, joint));
      }
      paint(kLongBarBands, longLeft, joint, longLeft + kIconBarWidth);
    }
  }
  return icon;
}

int Distance(rt::Pixel a, rt::Pixel b) {
  int sum = 0;
  for (int shift : {0, 8, 16}) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    sum += d * d;
  }
  return sum;
}

// Each opaque pixel takes the nearest colour of the 16-colour palette.
rt::Picture ToSixteenColours(rt::Picture picture) {
  const auto& palette = SixteenColourPalette();
  for (rt::Pixel& pixel : picture.pixels) {
    if ((pixel & rt::kOpaque) == 0) continue;
    pixel = *std::min_element(palette.begin(), palette.end(), [&](rt::Pixel a, rt::Pixel b) {
      return Distance(a, pixel) < Distance(b, pixel);
    });
  }
  return picture;
}

std::vector<bool> TransparentPixels(const rt::Picture& picture) {
  std::vector<bool> transparent;
  for (rt::Pixel pixel : picture.pixels) transparent.push_back((pixel & rt::kOpaque) == 0);
  return transparent;
}

// Both images of an icon from one drawing per colour depth.
std::vector<IconImage> IconImages(const rt::Picture& sixteen, const rt::Picture& full) {
  std::vector<IconImage> images;
  images.push_back({ToIndexed(sixteen, SixteenColourPalette()), TransparentPixels(sixteen)});
  images.push_back({ToIndexed(full, SaverPalette()), TransparentPixels(full)});
  return images;
}

// Inside the ellipse centred on (cx, cy) with radii rx, ry, for the pixel centre of (x, y).
bool InEllipse(int x, int y, double cx, double cy, double rx, double ry) {
  const double dx = (x + 0.5 - cx) / rx;
  const double dy = (y + 0.5 - cy) / ry;
  return dx * dx + dy * dy <= 1.0;
}

// The creature, in the colours of one depth: `orange` may be a dither of red and yellow where the
// palette has no orange.
struct CreatureColours {
  rt::Pixel skin;
  rt::Pixel shade;
  rt::Pixel yellow;
  rt::Pixel orange;
  rt::Pixel orangeAlternate;  // every other pixel of the orange parts
};

rt::Picture DrawCreature(const CreatureColours& colours) {
  rt::Picture icon{kIconSide, kIconSide, {}};
  icon.pixels.assign(kIconSide * kIconSide, 0);  // transparent
  for (int y = 0; y < kIconSide; ++y) {
    for (int x = 0; x < kIconSide; ++x) {
      const rt::Pixel orange = (x + y) % 2 == 0 ? colours.orange : colours.orangeAlternate;
      rt::Pixel pixel = 0;
      // Head: a wide oval with a thick outline, shaded towards the lower right.
      if (InEllipse(x, y, 16, 11.5, 14.5, 10.8)) {
        pixel = kBlack;
        if (InEllipse(x, y, 16, 11.5, 12.3, 8.7))
          pixel = InEllipse(x, y, 14.5, 10, 11.5, 8.5) ? colours.skin : colours.shade;
      }
      // Eyes: white ovals with black rims, pupils turned towards each other.
      for (double eyeX : {10.5, 21.5}) {
        if (InEllipse(x, y, eyeX, 8.5, 4.5, 5.4)) pixel = kBlack;
        if (InEllipse(x, y, eyeX, 8.5, 3.6, 4.5)) pixel = kWhite;
        if (InEllipse(x, y, eyeX + (eyeX < 16 ? 1 : -1), 9, 1.1, 1.6)) pixel = kBlack;
      }
      // A wide grin.
      if (y >= 15 && InEllipse(x, y, 16, 12, 8.6, 6.4) && !InEllipse(x, y, 16, 12, 7.4, 5.2))
        pixel = kBlack;
      // Under the chin a bow tie: yellow wings, orange at their tips, around an orange knot, all
      // outlined in black. The wings grow from 6 rows at the knot to 10 at their ends.
      const double across = std::abs(x + 0.5 - 16);
      const double down = std::abs(y + 0.5 - 27);
      const double wing = 2.5 + (std::min(across, 8.5) - 2.5) * 2 / 7;  // half the wing's height
      if (across <= 9.5 && down <= wing) {
        pixel = kBlack;
        if (across <= 8.5 && down <= wing - 1) pixel = across >= 6.5 ? orange : colours.yellow;
      }
      if (across <= 1.5 && down <= 2) pixel = across <= 0.5 && down <= 1 ? orange : kBlack;
      icon.pixels[static_cast<std::size_t>(y) * kIconSide + x] = pixel;
    }
  }
  return icon;
}

}  // namespace

std::vector<IconImage> DrawProgramIcon() {
  const rt::Picture logo = DrawIconLogo();
  return IconImages(ToSixteenColours(logo), logo);
}

std::vector<IconImage> DrawCreatureIcon() {
  const rt::Picture sixteen =
      DrawCreature({Hex(0x00FF00), Hex(0x008000), Hex(0xFFFF00), Hex(0xFF0000), Hex(0xFFFF00)});
  const rt::Picture full =
      DrawCreature({Hex(0x63FF00), Hex(0x31FF00), Hex(0xFFFF00), Hex(0xFF8C00), Hex(0xFF8C00)});
  return IconImages(sixteen, full);
}

}  // namespace artwork
