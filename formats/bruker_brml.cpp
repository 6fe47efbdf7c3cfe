// Bruker BRML files: a zip archive of XML documents; read only. Each scan is
// one member Experiment<N>/RawData<M>.xml, taken in the order of N and M:
//
//   RawData
//     DataRoutes/DataRoute @RouteFlag="Measured"
//       ScanInformation
//         ScanMode                       "StillScan" when the detector does not move
//         TimePerStep                    seconds
//         ScanAxes/ScanAxisInfo @AxisId  Start, Stop, Increment of each moving axis (files of
//                                        older versions name the axis by @AxisName only)
//       DataViews/RawDataView @Start @LogicName
//                                        which column of a Datum holds what: MeasuredTime,
//                                        AbsorptionFactor, the scan axes (Varying/FieldDefinitions
//                                        @AxisId or @AxisName, in order) and the counts
//                                        (RecordedRawDataView)
//       Datum                            one point: numbers separated by commas
//     FixedInformation/.../Tube          WaveLengthAlpha1, WaveLengthAlpha2, WaveLengthRatio @Value
//     ... InfoItem @Name="SampleName" @Value
//
// Without DataViews a Datum reads "time,absorption,2theta,theta,counts": the
// angle is the third number and the counts the last. The counts are stored
// already multiplied by the absorption factor.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/zip_archive.h"

namespace qelda {
namespace {

struct RawDataMember {
    int experiment = 0;
    int index = 0;
    std::string name;
};

// "Experiment0/RawData12.xml" as {0, 12}; false for other names.
bool raw_data_member(std::string_view name, RawDataMember& m) {
    constexpr std::string_view kExperiment = "Experiment";
    constexpr std::string_view kRawData = "/RawData";
    constexpr std::string_view kXml = ".xml";
    if (name.substr(0, kExperiment.size()) != kExperiment) return false;
    const char* p = name.data() + kExperiment.size();
    const char* end = name.data() + name.size();
    auto r = std::from_chars(p, end, m.experiment);
    if (r.ec != std::errc{} || r.ptr == p) return false;
    std::string_view rest(r.ptr, static_cast<std::size_t>(end - r.ptr));
    if (rest.substr(0, kRawData.size()) != kRawData) return false;
    rest.remove_prefix(kRawData.size());
    r = std::from_chars(rest.data(), rest.data() + rest.size(), m.index);
    if (r.ec != std::errc{} || r.ptr == rest.data()) return false;
    m.name = std::string(name);
    return std::string_view(r.ptr, static_cast<std::size_t>(rest.data() + rest.size() - r.ptr)) ==
           kXml;
}

// The axis an element names: its AxisId, or its AxisName where it has no AxisId.
std::string_view axis_id_of(pugi::xml_node node) {
    const std::string_view id = trim(node.attribute("AxisId").value());
    return id.empty() ? trim(node.attribute("AxisName").value()) : id;
}

int column_of(pugi::xml_node view) {
    double start = -1;
    if (!parse_number(trim(view.attribute("Start").value()), start) || start < 0 || start > 1000)
        return -1;
    return static_cast<int>(start);
}

struct Columns {
    int time = 0;
    int absorption = -1;
    int angle = 2;
    int counts = -1;  // -1: the last number
    bool per_second = false;
    int temperature = -1;  // a recorded temperature, where the scan has one
    bool celsius = false;
};

// The columns of a Datum, from the route's DataViews where it has them.
Columns columns_of(pugi::xml_node route, std::string_view axis_id) {
    Columns c;
    const pugi::xml_node views = child_named(route, "DataViews");
    if (!views) return c;
    for (pugi::xml_node v = views.first_child(); v; v = v.next_sibling()) {
        if (local_name(v) != "RawDataView") continue;
        const int start = column_of(v);
        if (start < 0) continue;
        const std::string_view logic = v.attribute("LogicName").value();
        if (logic == "MeasuredTime") c.time = start;
        if (logic == "AbsorptionFactor") c.absorption = start;
        if (const pugi::xml_node varying = child_named(v, "Varying")) {
            if (std::string_view(varying.attribute("LogicName").value()) != "ScanAxes") continue;
            int k = 0;
            for (pugi::xml_node f = varying.first_child(); f; f = f.next_sibling()) {
                if (local_name(f) != "FieldDefinitions") continue;
                if (!axis_id.empty() && axis_id_of(f) == axis_id) c.angle = start + k;
                ++k;
            }
        }
        const pugi::xml_node rec = child_named(v, "Recording");
        if (rec && std::string_view(rec.attribute("Category").value()) == "Temperature") {
            const std::string_view base = child_named(rec, "Unit").attribute("Base").value();
            if (c.temperature < 0 && (base == "Celsius" || base == "Kelvin")) {
                c.temperature = start;
                c.celsius = base == "Celsius";
            }
            continue;
        }
        if (rec && c.counts < 0) {
            c.counts = start;
            const std::string_view base = child_named(rec, "Unit").attribute("Base").value();
            c.per_second = base.find("PerSecond") != std::string_view::npos || base == "Cps";
        }
    }
    return c;
}

std::optional<Wavelengths> wavelengths_of(pugi::xml_node root) {
    double a1 = 0, a2 = 0, ratio = 0;
    const pugi::xml_node n1 = descendant_named(root, "WaveLengthAlpha1");
    if (!parse_number(trim(n1.attribute("Value").value()), a1) || a1 <= 0.0) return std::nullopt;
    Wavelengths w;
    w.alpha1 = static_cast<float>(a1);
    const pugi::xml_node tube = n1.parent();
    if (parse_number(trim(child_named(tube, "WaveLengthAlpha2").attribute("Value").value()), a2) &&
        a2 > 0.0 &&
        parse_number(trim(child_named(tube, "WaveLengthRatio").attribute("Value").value()),
                     ratio) &&
        ratio > 0.0) {
        w.alpha2 = static_cast<float>(a2);
        w.ratio = static_cast<float>(ratio);
    }
    return w;
}

std::string title_of(pugi::xml_node root) {
    // InfoItem elements hold the measurement's name-value pairs.
    for (pugi::xml_node item = descendant_named(root, "InfoItem"); item; item = item.next_sibling())
        if (std::string_view(item.attribute("Name").value()) == "SampleName")
            return std::string(trim(item.attribute("Value").value()));
    return {};
}

// The drives that stood still during the scan (the scan's own axes excepted)
// and the time the scan started.
void conditions_of(pugi::xml_node root, pugi::xml_node info, InstrumentScan& s) {
    auto moves = [&](std::string_view logic) {
        for (pugi::xml_node a = child_named(info, "ScanAxes").first_child(); a;
             a = a.next_sibling())
            if (local_name(a) == "ScanAxisInfo" && axis_id_of(a) == logic) return true;
        return false;
    };
    const pugi::xml_node drives = child_named(child_named(root, "FixedInformation"), "Drives");
    for (pugi::xml_node d = drives.first_child(); d; d = d.next_sibling()) {
        if (local_name(d) != "InfoData") continue;
        const std::string_view logic = trim(d.attribute("LogicName").value());
        double v = 0;
        if (moves(logic) ||
            !parse_number(trim(child_named(d, "Position").attribute("Value").value()), v))
            continue;
        if (logic == "Chi") s.chi = v;
        if (logic == "Phi") s.phi = v;
        if (logic == "Theta" || logic == "Omega") s.omega = v;
    }
    s.measured_at = std::string(child_text(root, "TimeStampStarted"));
}

ConversionStatus load_raw_data(Workspace& ws, ZipArchive& zip, const RawDataMember& member,
                               const std::string& where, InstrumentScan& s) {
    s = InstrumentScan{};
    std::string text;
    if (!zip.read(member.name, text)) {
        if (zip.error_offset() != ZipArchive::kNoOffset)
            ws.failure_byte = static_cast<std::size_t>(zip.error_offset());
        return ws.fail(zip.error() == ZipArchive::Error::too_large
                           ? ConversionStatus::too_many_points
                           : ConversionStatus::record_error,
                       where + ": " + zip.error_text());
    }
    pugi::xml_document doc;
    std::string why;
    if (!parse_xml(text, doc, why))
        return ws.fail(ConversionStatus::record_error, where + ": " + member.name + ": " + why);
    const pugi::xml_node root = doc.document_element();
    if (local_name(root) != "RawData")
        return ws.fail(ConversionStatus::record_error,
                       where + ": " + member.name + " holds no <RawData>");

    // The measured route; the first one with data when none says so.
    pugi::xml_node route;
    const pugi::xml_node routes = child_named(root, "DataRoutes");
    for (pugi::xml_node r = routes.first_child(); r; r = r.next_sibling()) {
        if (local_name(r) != "DataRoute" || !child_named(r, "Datum")) continue;
        if (!route) route = r;
        if (std::string_view(r.attribute("RouteFlag").value()) == "Measured") {
            route = r;
            break;
        }
    }
    if (!route) return ws.fail(ConversionStatus::premature_end, where + " holds no data points");
    const pugi::xml_node info = child_named(route, "ScanInformation");
    if (child_text(info, "ScanMode") == "StillScan")
        return ws.fail(ConversionStatus::not_available,
                       where +
                           " is a still scan (the detector stands still); only step scans "
                           "can be converted");

    // The 2theta axis ("TwoTheta") when it moves, else the first axis that does.
    pugi::xml_node axis;
    pugi::xml_node first_axis;
    for (pugi::xml_node a = child_named(info, "ScanAxes").first_child(); a; a = a.next_sibling()) {
        if (local_name(a) != "ScanAxisInfo") continue;
        if (!first_axis) first_axis = a;
        if (is_two_theta_axis(axis_id_of(a))) {
            axis = a;
            break;
        }
    }
    s.two_theta = static_cast<bool>(axis);
    if (!axis) axis = first_axis;
    if (!axis) return ws.fail(ConversionStatus::record_error, where + " names no scan axis");
    // Named by its id, which says what moves; the name shown on screen may
    // say otherwise ("2Theta" on a Theta axis).
    const std::string_view visible = trim(axis.attribute("VisibleName").value());
    s.axis = std::string(axis_id_of(axis));
    if (s.axis.empty())
        s.axis = std::string(visible);
    else if (!visible.empty() && visible != s.axis)
        s.axis += " (shown as " + std::string(visible) + ")";
    if (!parse_number(child_text(axis, "Start"), s.start) ||
        !parse_number(child_text(axis, "Increment"), s.step))
        return ws.fail(ConversionStatus::record_error,
                       where + ": the Start or Increment of axis " + s.axis + " is not a number");
    parse_number(child_text(axis, "Stop"), s.stop);
    parse_number(child_text(info, "TimePerStep"), s.count_time);

    const Columns col = columns_of(route, axis_id_of(axis));
    s.per_second = col.per_second;
    const std::size_t limit = static_cast<std::size_t>(kPointCapacity) + 1;
    std::vector<double> fields;
    bool attenuated = false;
    std::vector<double> factors;
    double temperature_sum = 0.0;
    int32_t temperatures = 0;
    int32_t datum = 0;
    for (pugi::xml_node d = route.first_child(); d && s.counts.size() < limit;
         d = d.next_sibling()) {
        if (local_name(d) != "Datum") continue;
        ++datum;
        fields.clear();
        std::string_view text_of = d.child_value();
        while (true) {
            const auto comma = text_of.find(',');
            double v = 0;
            const std::string_view field = trim(text_of.substr(0, comma));
            if (!parse_number(field, v))
                return ws.fail(ConversionStatus::record_error,
                               where + ", datum " + std::to_string(datum) + ": '" +
                                   std::string(field.substr(0, 40)) + "' is not a number");
            fields.push_back(v);
            if (comma == std::string_view::npos) break;
            text_of.remove_prefix(comma + 1);
        }
        const int n = static_cast<int>(fields.size());
        const int counts = col.counts < 0 ? n - 1 : col.counts;
        if (col.angle >= n || counts >= n || col.absorption >= n || counts <= col.angle)
            return ws.fail(ConversionStatus::record_error,
                           where + ", datum " + std::to_string(datum) + " holds " +
                               std::to_string(n) + " numbers, too few for angle and counts");
        s.angles.push_back(fields[static_cast<std::size_t>(col.angle)]);
        s.counts.push_back(fields[static_cast<std::size_t>(counts)]);
        const double f =
            col.absorption >= 0 ? fields[static_cast<std::size_t>(col.absorption)] : 1.0;
        factors.push_back(f);
        attenuated = attenuated || f != 1.0;
        // Blanked readings (-9999) lie below absolute zero and are passed over.
        if (col.temperature >= 0 && col.temperature < n) {
            const double t = fields[static_cast<std::size_t>(col.temperature)];
            if (t > (col.celsius ? -273.15 : 0.0)) {
                temperature_sum += t;
                ++temperatures;
            }
        }
    }
    // The scan's temperature: the mean of what was recorded at its points.
    if (temperatures > 0)
        s.temperature = temperature_sum / temperatures + (col.celsius ? 273.15 : 0.0);
    if (attenuated) {
        // Counts taken through the absorber are stored multiplied by its
        // factor f: a stored c*f has the uncertainty sqrt(c)*f.
        s.sigma.resize(s.counts.size());
        for (std::size_t i = 0; i < s.counts.size(); ++i)
            s.sigma[i] =
                static_cast<float>(std::sqrt(std::fabs(s.counts[i]) * std::max(factors[i], 0.0)));
    }
    s.wavelengths = wavelengths_of(root);
    s.title = title_of(root);
    conditions_of(root, info, s);
    return ConversionStatus::done;
}

ConversionStatus read_brml(Workspace& ws) {
    const std::string file(ws.input().file_name());
    ZipArchive zip;
    if (!zip.open(ws.input().bytes())) {
        if (zip.error() == ZipArchive::Error::not_zip)
            return ws.fail(ConversionStatus::not_available,
                           file + " is not a zip archive: not a Bruker BRML file");
        return ws.fail(ConversionStatus::premature_end, file + ": " + zip.error_text());
    }
    std::vector<RawDataMember> members;
    for (const std::string& name : zip.members()) {
        RawDataMember m;
        if (raw_data_member(name, m)) members.push_back(std::move(m));
    }
    if (members.empty())
        return ws.fail(ConversionStatus::not_available,
                       file +
                           " is a zip archive without Experiment0/RawData0.xml: not a "
                           "Bruker BRML file");
    std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
        return a.experiment != b.experiment ? a.experiment < b.experiment : a.index < b.index;
    });
    const auto count = static_cast<int32_t>(members.size());
    return convert_scan(ws, count, [&](int32_t i, InstrumentScan& s) {
        const RawDataMember& m = members[static_cast<std::size_t>(i)];
        return load_raw_data(ws, zip, m, count == 1 ? file : file + ", " + m.name, s);
    });
}

}  // namespace

ConversionStatus bruker_brml_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_brml(ws);
    });
}

}  // namespace qelda
