#pragma once
// The chart's live values and title from an instrument image, wherever the image is kept: the
// chamber's own link, or the service's channel.

#include <algorithm>
#include <functional>

#include "chart/chartpanel.h"
#include "comm/image.h"

namespace shell {

inline chart::LiveFeed liveFeedOf(std::function<const comm::InstrumentImage&()> image,
                                  std::function<std::pair<int, int>()> portAndAddress) {
    return {[image = std::move(image)] {
                std::array<float, 10> v{};
                std::copy_n(image().LiveValues.begin(), v.size(), v.begin());
                return v;
            },
            std::move(portAndAddress)};
}

}  // namespace shell
