#include "updater/orbiq/OrbiqCatalogs.h"

namespace vrexa::updater::orbiq {

namespace {

struct Registration {
    const char* localeName;
    int resourceId;
};

// In registration order; a name given twice would keep its first catalog.
constexpr Registration kRegistrations[] = {
    {"cs", 201},    {"de", 202},    {"el", 203},    {"en_GB", 204}, {"en_UK", 204}, {"es", 206},    {"es_AR", 205},
    {"es_BO", 205}, {"es_CL", 205}, {"es_CO", 205}, {"es_CR", 205}, {"es_DO", 205}, {"es_EC", 205}, {"es_SV", 205},
    {"es_GT", 205}, {"es_HN", 205}, {"es_MX", 205}, {"es_NI", 205}, {"es_PA", 205}, {"es_PY", 205}, {"es_PE", 205},
    {"es_PR", 205}, {"es_UY", 205}, {"es_VE", 205}, {"es_ES", 206}, {"fi", 207},    {"fr", 208},    {"hu", 209},
    {"it", 210},    {"ja", 211},    {"ko", 212},    {"nb", 214},    {"nl", 213},    {"nn", 214},    {"no", 214},
    {"pl", 215},    {"pt", 216},    {"ro", 217},    {"ru", 218},    {"sv", 219},    {"th", 220},    {"tr", 221},
    {"zh", 222},    {"zh_CN", 222}, {"zh_SG", 222}, {"zh_TW", 223}, {"zh_HK", 223}, {"zh_MO", 223},
};

}  // namespace

void RegisterOrbiqCatalogs(locale::EmbeddedMessageCatalog& catalog) {
    for (const auto& registration : kRegistrations)
        catalog.Register(registration.localeName, registration.resourceId);
}

}  // namespace vrexa::updater::orbiq
