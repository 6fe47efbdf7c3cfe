#include "formats/detect.h"

namespace qelda {

ContentGuess detect_content(std::string_view) {
    ContentGuess g;
    g.reason = "the content does not tell its format";
    return g;
}

ContentGuess detect_file(const std::string&) {
    return detect_content({});
}

}  // namespace qelda
