#include "design.h"

#include <stdexcept>
#include <string>

namespace window::design {

const Control& control(std::string_view name) {
    for (const Control& c : Controls)
        if (c.name == name)
            return c;
    throw std::out_of_range("no control named " + std::string(name));
}

} // namespace window::design
