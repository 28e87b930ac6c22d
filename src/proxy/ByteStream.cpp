#include "proxy/ByteStream.hpp"
