#pragma once
// The windows were drawn in twips (1/1440 inch); 15 twips are one pixel at 96 dpi.

namespace varnok {

constexpr int tw(int twips) {
    return (twips + 7) / 15;
}

} // namespace varnok
