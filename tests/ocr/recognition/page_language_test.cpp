#include "recognition/page_language.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace mivo::ocr {
namespace {

struct PageText {
  const char* name;
  const char* text;  // as the English model reads it: accents lost or misread
  std::optional<std::string> model;
};

class PageLanguage : public ::testing::TestWithParam<PageText> {};

TEST_P(PageLanguage, NamesTheModelOfTheLanguageThePageIsWrittenIn) {
  EXPECT_EQ(pageLanguageModel(GetParam().text), GetParam().model);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageLanguage,
    ::testing::Values(
        PageText{"French",
                 "Ou est I'hétel ? Le café est a cété de la gare,\nprés du musée. Nous avons "
                 "réservé une chambre\npour deux nuits et le diner est déja prét.",
                 "fra"},
        PageText{"German",
                 "Der Bericht ist fertig und die Zahlen sind gut. Wir haben das Ziel fur das "
                 "Jahr mit einem Plus von zwolf Prozent erreicht.",
                 "deu"},
        PageText{"Dutch",
                 "Het rapport is klaar en de cijfers zijn goed. Wij hebben een groei van twaalf "
                 "procent voor dit jaar, maar ook meer kosten.",
                 "nld"},
        PageText{"Spanish",
                 "El informe esta listo y los numeros son buenos. Hemos crecido un doce por ciento "
                 "este ano, pero los costes suben para las tiendas.",
                 "spa"},
        PageText{"Italian",
                 "Il rapporto e pronto e i numeri sono buoni. Abbiamo una crescita del dodici per "
                 "cento nel questo anno, che supera gli obiettivi della societa.",
                 "ita"},
        PageText{"Portuguese",
                 "O relatorio esta pronto e os numeros sao bons. Tivemos uma subida de doze por "
                 "cento ao longo do ano, mais do que o previsto pela empresa.",
                 "por"},
        PageText{"English",
                 "Revenue grew by 12 percent in the third quarter, and the board expects the same "
                 "for the year that is to come.",
                 std::nullopt},
        PageText{"Addresses",
                 "To: Peter Parker <peter.parker@test.com>; 0815 <0815@test.com>; Invalid_one "
                 "<notvalid@test>; Invalid_two <also/not/valid/@test.com>; Invalid_three "
                 "<@test.com> da.das@uma.com",
                 std::nullopt},
        PageText{"TableOfCodes",
                 "Part No. Table No. Part No Table No.\n13A 88 14A\n14B 91 13A\nNo A B No A B No "
                 "A B\n13 B-14A 101 13B\n10 14A 102 13B",
                 std::nullopt},
        PageText{"TooShortToTell", "Le café est à côté de la gare", std::nullopt}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace mivo::ocr
