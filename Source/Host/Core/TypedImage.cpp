#include "Host/Core/TypedImage.h"

namespace Corvexis {

template class TypedImage<std::int8_t>;
template class TypedImage<std::uint8_t>;
template class TypedImage<std::int16_t>;
template class TypedImage<std::uint16_t>;
template class TypedImage<std::int32_t>;
template class TypedImage<std::uint32_t>;
template class TypedImage<float>;
template class TypedImage<double>;

}  // namespace Corvexis
