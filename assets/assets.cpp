// Spans over the byte arrays that the build generates from this folder's files.
#include "assets/assets.h"

#include <cstddef>

#define QG_EMBEDDED(symbol)           \
  extern const std::uint8_t symbol[]; \
  extern const std::size_t symbol##_size;

QG_EMBEDDED(qg_background_bmp)
QG_EMBEDDED(qg_disk_bmp)
QG_EMBEDDED(qg_quietglass_ico)
QG_EMBEDDED(qg_creature_ico)

namespace assets {

std::span<const std::uint8_t> BackgroundBmp() {
  return {qg_background_bmp, qg_background_bmp_size};
}
std::span<const std::uint8_t> DiskBmp() {
  return {qg_disk_bmp, qg_disk_bmp_size};
}
std::span<const std::uint8_t> ProgramIcon() {
  return {qg_quietglass_ico, qg_quietglass_ico_size};
}
std::span<const std::uint8_t> CreatureIcon() {
  return {qg_creature_ico, qg_creature_ico_size};
}

}  // namespace assets
