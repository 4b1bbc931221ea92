#include "formats/CorvaneDoc.h"

namespace corvane {

CCorvaneDoc::CCorvaneDoc()
    : root(std::make_unique<COutlineItem>())
    , head(std::make_unique<COutlineHead>())
{ }

} // namespace corvane
