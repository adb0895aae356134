#include "input/inflate_engine.h"

#include "input/inflate_engine_factories.h"

namespace ferolin::tools {

Inflater fastest_inflater() {
#ifdef FEROLIN_HAVE_ISAL
  return Inflater::Isal;
#else
  return Inflater::Zlib;
#endif
}

std::unique_ptr<InflateEngine> make_inflate_engine(Inflater kind) {
#ifdef FEROLIN_HAVE_ISAL
  if (kind == Inflater::Isal) return make_isal_engine();
#endif
  (void)kind;
  return make_zlib_engine();
}

}  // namespace ferolin::tools
