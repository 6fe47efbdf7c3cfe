// qelda_client INPUT [OUTPUT FORMAT]: reads a scan with libqelda, prints what
// it holds and, when asked, writes it in another format.
#include <qelda/qelda.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: qelda_client INPUT [OUTPUT FORMAT]\n");
        return 2;
    }
    const qelda::api::ReadResult r = qelda::api::read(argv[1]);
    if (!r.ok()) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[1], r.error.message.c_str(),
                     r.error.reason.c_str());
        return 1;
    }
    const qelda::api::Scan& s = r.pattern.scans.front();
    std::printf("%s: %s, %zu points from %g to %g, lambda %g, \"%s\"\n", argv[1],
                r.pattern.format.c_str(), s.intensity.size(), s.two_theta.front(),
                s.two_theta.back(), r.pattern.lambda1, r.pattern.title.c_str());
    for (const auto& w : r.pattern.warnings) std::printf("warning: %s\n", w.c_str());
    if (argc == 4) {
        const qelda::api::WriteResult w = qelda::api::write(r.pattern, argv[3], argv[2]);
        if (!w.ok()) {
            std::fprintf(stderr, "%s: %s: %s\n", argv[2], w.error.message.c_str(),
                         w.error.reason.c_str());
            return 1;
        }
    }
    return 0;
}
