#include "widgets/definitions.h"

#include <stdexcept>
#include <string>

namespace defs
{

const ControlDef &control(std::span<const ControlDef> table, std::string_view name)
{
    for (const ControlDef &c : table)
        if (name == c.name)
            return c;
    throw std::logic_error("no control " + std::string(name));
}

} // namespace defs
