// PANalytical XRDML files (XML, namespace http://www.xrdml.com/XRDMeasurement/
// versions 1.0 to 2.1): read only.
//
//   xrdMeasurements
//     sample/id, sample/name                        the title
//     xrdMeasurement (one or more)
//       usedWavelength/kAlpha1, kAlpha2, ratioKAlpha2KAlpha1
//       scan @scanAxis (one or more)                "2Theta", "Gonio", "2Theta-Omega", "Phi", ...
//         dataPoints
//           positions @axis                         startPosition + endPosition, listPositions,
//                                                   or commonPosition (an axis that stays put)
//           commonCountingTime | countingTimes      seconds per step
//           intensities | counts  @unit             one number per point
//           beamAttenuationFactors | commonBeamAttenuationFactor
//
// <intensities> are already corrected for the beam attenuator; <counts> (2.x)
// are not, and are multiplied by the attenuation factors here. Either way the
// factors give the attenuated points their uncertainty, sqrt(raw count) * factor.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"

namespace qelda {
namespace {

constexpr std::string_view kNamespace = "http://www.xrdml.com/XRDMeasurement/";

struct Xrdml {
    std::string text;  // the document parses in place
    pugi::xml_document doc;
    std::vector<pugi::xml_node> scans;
    std::string title;
};

// The namespace version "1.5" as 15; -1 when the text is not a version.
int version_of(std::string_view v) {
    int major = 0, minor = 0;
    const char* end = v.data() + v.size();
    auto r1 = std::from_chars(v.data(), end, major);
    if (r1.ec != std::errc{} || r1.ptr == end || *r1.ptr != '.') return -1;
    auto r2 = std::from_chars(r1.ptr + 1, end, minor);
    if (r2.ec != std::errc{} || r2.ptr != end || minor > 9) return -1;
    return major * 10 + minor;
}

ConversionStatus open_xrdml(Workspace& ws, Xrdml& x) {
    const std::string file(ws.input().file_name());
    // Told by the size the file has, before any of it is read.
    if (ws.input().size() > kMaxXmlBytes)
        return ws.fail(ConversionStatus::not_available,
                       file + " holds " + std::to_string(ws.input().size() >> 20) +
                           " MB, more than the " + std::to_string(kMaxXmlBytes >> 20) +
                           " MB of XML allowed for one scan file");
    x.text = std::string(ws.input().bytes());
    std::string why;
    if (!parse_xml(x.text, x.doc, why))
        return ws.fail(ConversionStatus::not_available, file + ": " + why);
    const pugi::xml_node root = x.doc.document_element();
    if (local_name(root) != "xrdMeasurements")
        return ws.fail(ConversionStatus::not_available,
                       file + " is XML but not an XRDML file (its root element is '" +
                           std::string(local_name(root).substr(0, 40)) +
                           "', not 'xrdMeasurements')");
    // The default namespace names the schema version.
    std::string_view ns;
    for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name = a.name();
        if (name == "xmlns" || name.substr(0, 6) == "xmlns:") {
            const std::string_view value = a.value();
            if (value.substr(0, kNamespace.size()) == kNamespace) ns = value;
        }
    }
    if (!ns.empty()) {
        const std::string_view text = ns.substr(kNamespace.size());
        const int version = version_of(text);
        if (version < 10 || version >= 30)
            return ws.fail(ConversionStatus::not_available,
                           file + " is an XRDML file of version '" +
                               std::string(text.substr(0, 20)) +
                               "'; versions 1.0 to 2.1 can be read");
        if (version > 21)
            ws.warn(file + " is an XRDML file of version " + std::string(text) +
                    ", newer than 2.1; read as 2.1");
    }

    const pugi::xml_node sample = child_named(root, "sample");
    const std::string_view id = child_text(sample, "id");
    const std::string_view name = child_text(sample, "name");
    x.title = std::string(id);
    if (!name.empty() && name != id) {
        if (!x.title.empty()) x.title += ' ';
        x.title.append(name);
    }

    for (pugi::xml_node m = root.first_child(); m; m = m.next_sibling()) {
        if (m.type() != pugi::node_element || local_name(m) != "xrdMeasurement") continue;
        for (pugi::xml_node s = m.first_child(); s; s = s.next_sibling())
            if (s.type() == pugi::node_element && local_name(s) == "scan") x.scans.push_back(s);
    }
    return ConversionStatus::done;
}

std::optional<Wavelengths> wavelengths_of(pugi::xml_node measurement) {
    const pugi::xml_node used = child_named(measurement, "usedWavelength");
    double a1 = 0, a2 = 0, ratio = 0;
    if (!used || !parse_number(child_text(used, "kAlpha1"), a1) || a1 <= 0.0) return std::nullopt;
    Wavelengths w;
    w.alpha1 = static_cast<float>(a1);
    if (parse_number(child_text(used, "kAlpha2"), a2) && a2 > 0.0 &&
        parse_number(child_text(used, "ratioKAlpha2KAlpha1"), ratio) && ratio > 0.0) {
        w.alpha2 = static_cast<float>(a2);
        w.ratio = static_cast<float>(ratio);
    }
    return w;
}

// The positions element that gives the scan's abscissa: 2Theta for the scans
// that move it, else the scan axis itself, else the first axis that moves.
pugi::xml_node abscissa_of(pugi::xml_node points, bool two_theta, std::string_view axis) {
    pugi::xml_node first_moving;
    for (pugi::xml_node p = points.first_child(); p; p = p.next_sibling()) {
        if (p.type() != pugi::node_element || local_name(p) != "positions") continue;
        const std::string_view name = p.attribute("axis").value();
        if (two_theta ? name == "2Theta" : name == axis) return p;
        if (!first_moving && !child_named(p, "commonPosition")) first_moving = p;
    }
    return two_theta ? pugi::xml_node() : first_moving;
}

ConversionStatus load_scan(Workspace& ws, const Xrdml& x, int32_t index, InstrumentScan& s) {
    const std::string file(ws.input().file_name());
    const std::string where =
        x.scans.size() == 1 ? file : file + ", scan " + std::to_string(index + 1);
    const pugi::xml_node scan = x.scans[static_cast<std::size_t>(index)];
    s = InstrumentScan{};
    s.axis = scan.attribute("scanAxis").value();
    s.two_theta = is_two_theta_axis(s.axis);
    s.title = x.title;
    s.wavelengths = wavelengths_of(scan.parent());

    const pugi::xml_node points = child_named(scan, "dataPoints");
    if (!points) return ws.fail(ConversionStatus::premature_end, where + " has no dataPoints");
    const std::size_t limit = static_cast<std::size_t>(kPointCapacity) + 1;
    std::string bad;

    const pugi::xml_node pos = abscissa_of(points, s.two_theta, s.axis);
    if (!pos)
        return ws.fail(ConversionStatus::record_error,
                       where + " gives no positions of " + (s.two_theta ? "2Theta" : s.axis));
    const std::string axis_name = pos.attribute("axis").value();
    if (const pugi::xml_node list = child_named(pos, "listPositions")) {
        if (!parse_number_list(list.child_value(), s.angles, &s.decimals, limit, bad))
            return ws.fail(
                ConversionStatus::record_error,
                where + ": '" + bad + "' in the " + axis_name + " listPositions is not a number");
    } else if (child_named(pos, "startPosition")) {
        if (!parse_number(child_text(pos, "startPosition"), s.start) ||
            !parse_number(child_text(pos, "endPosition"), s.stop))
            return ws.fail(ConversionStatus::record_error,
                           where + ": the " + axis_name +
                               " startPosition or endPosition is missing or not a number");
    } else {
        return ws.fail(ConversionStatus::record_error,
                       where + ": " + axis_name + " stays at one position for the whole scan");
    }

    // <intensities> are corrected already; <counts> still need the factors.
    pugi::xml_node values = child_named(points, "intensities");
    const bool raw_counts = !values;
    if (raw_counts) values = child_named(points, "counts");
    if (!values)
        return ws.fail(ConversionStatus::premature_end,
                       where + " has neither <intensities> nor <counts>");
    if (!parse_number_list(values.child_value(), s.counts, nullptr, limit, bad))
        return ws.fail(
            ConversionStatus::record_error,
            where + ": '" + bad + "' in <" + local_name(values).data() + "> is not a number");
    const std::string_view unit = values.attribute("unit").value();
    s.per_second = unit == "cps" || unit.find("/s") != std::string_view::npos;

    std::vector<double> factors;
    if (const pugi::xml_node f = child_named(points, "beamAttenuationFactors")) {
        if (!parse_number_list(f.child_value(), factors, nullptr, limit, bad))
            return ws.fail(ConversionStatus::record_error,
                           where + ": '" + bad + "' in beamAttenuationFactors is not a number");
        if (factors.size() != s.counts.size())
            return ws.fail(ConversionStatus::record_error,
                           where + " gives " + std::to_string(factors.size()) +
                               " beam attenuation factors for " + std::to_string(s.counts.size()) +
                               " intensities");
    } else if (const pugi::xml_node f = child_named(points, "commonBeamAttenuationFactor")) {
        double common = 0;
        if (!parse_number(trim(f.child_value()), common))
            return ws.fail(ConversionStatus::record_error,
                           where + ": commonBeamAttenuationFactor is not a number");
        factors.assign(s.counts.size(), common);
    }
    if (std::any_of(factors.begin(), factors.end(), [](double f) { return f != 1.0; })) {
        // A count c taken through the attenuator of factor f stands for c*f,
        // with the uncertainty sqrt(c)*f = sqrt(c*f*f).
        s.sigma.resize(s.counts.size());
        for (std::size_t i = 0; i < s.counts.size(); ++i) {
            if (raw_counts) s.counts[i] *= factors[i];
            s.sigma[i] = static_cast<float>(std::sqrt(std::fabs(s.counts[i] * factors[i])));
        }
    }

    double time = 0;
    if (parse_number(child_text(points, "commonCountingTime"), time)) {
        s.count_time = time;
    } else if (const pugi::xml_node t = child_named(points, "countingTimes")) {
        std::vector<double> times;
        if (!parse_number_list(t.child_value(), times, nullptr, limit, bad) || times.empty())
            return ws.fail(ConversionStatus::record_error,
                           where + ": the countingTimes are not numbers");
        const auto [lo, hi] = std::minmax_element(times.begin(), times.end());
        s.count_time = *lo;
        if (*hi != *lo)
            s.notes.push_back(where + ": the counting time varies from " + number_text(*lo) +
                              " to " + number_text(*hi) + " s per point; " + number_text(*lo) +
                              " s is given as the count time");
    }
    return ConversionStatus::done;
}

ConversionStatus read_xrdml(Workspace& ws) {
    Xrdml x;
    const ConversionStatus opened = open_xrdml(ws, x);
    if (opened != ConversionStatus::done) return opened;
    if (x.scans.empty())
        return ws.fail(ConversionStatus::premature_end,
                       std::string(ws.input().file_name()) + " holds no <scan>");
    return convert_scan(ws, static_cast<int32_t>(x.scans.size()),
                        [&](int32_t i, InstrumentScan& s) { return load_scan(ws, x, i, s); });
}

}  // namespace

ConversionStatus xrdml_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_xrdml(ws);
    });
}

}  // namespace qelda
