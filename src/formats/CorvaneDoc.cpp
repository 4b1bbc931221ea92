#include "formats/CorvaneDoc.h"


CCorvaneDoc::CCorvaneDoc()
    : root(std::make_unique<COutlineItem>()), head(std::make_unique<COutlineHead>())
{
}
