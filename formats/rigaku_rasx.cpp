// Rigaku RASX files: a zip archive, read only. Each scan is a pair of members
// in a folder Data<N>:
//
//   Data<N>/Profile<M>.txt                 rows as in RAS files: angle, intensity, attenuation
//                                          (tab-separated, after a byte-order mark)
//   Data<N>/MesurementConditions<M>.xml    (so spelt) the conditions:
//     MeasurementConditions
//       GeneralInformation/SampleName, Comment
//       HWConfigurations/XrayGenerator/WavelengthKalpha1, WavelengthKalpha2, WavelengthKbeta,
//                                      WaveType ("Ka1" for K-alpha1 alone)
//       ScanInformation/AxisName, Start, Stop, Step, Speed, SpeedUnit, IntensityUnit
//
// Scans are taken in the order of N and M.
#include <algorithm>
#include <charconv>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/rigaku_ras.h"
#include "formats/zip_archive.h"

namespace qelda {
namespace {

struct ProfileMember {
    int folder = 0;
    int index = 0;
    std::string profile;     // Data0/Profile0.txt
    std::string conditions;  // Data0/MesurementConditions0.xml
};

// "Data3/Profile1.txt" as {3, 1}; false for other names.
bool profile_member(std::string_view name, ProfileMember& m) {
    constexpr std::string_view kData = "Data";
    constexpr std::string_view kProfile = "/Profile";
    constexpr std::string_view kTxt = ".txt";
    if (name.substr(0, kData.size()) != kData) return false;
    const char* end = name.data() + name.size();
    auto r = std::from_chars(name.data() + kData.size(), end, m.folder);
    if (r.ec != std::errc{} || r.ptr == name.data() + kData.size()) return false;
    std::string_view rest(r.ptr, static_cast<std::size_t>(end - r.ptr));
    if (rest.substr(0, kProfile.size()) != kProfile) return false;
    rest.remove_prefix(kProfile.size());
    r = std::from_chars(rest.data(), rest.data() + rest.size(), m.index);
    if (r.ec != std::errc{} || r.ptr == rest.data() ||
        std::string_view(r.ptr, static_cast<std::size_t>(end - r.ptr)) != kTxt)
        return false;
    m.profile = std::string(name);
    return true;
}

ConversionStatus read_member(Workspace& ws, ZipArchive& zip, const std::string& member,
                             const std::string& where, std::string& text) {
    if (zip.read(member, text)) return ConversionStatus::done;
    if (zip.error_offset() != ZipArchive::kNoOffset)
        ws.failure_byte = static_cast<std::size_t>(zip.error_offset());
    return ws.fail(zip.error() == ZipArchive::Error::too_large ? ConversionStatus::too_many_points
                                                               : ConversionStatus::record_error,
                   where + ": " + zip.error_text());
}

ConversionStatus load_profile(Workspace& ws, ZipArchive& zip, const ProfileMember& m,
                              const std::string& where, InstrumentScan& s) {
    s = InstrumentScan{};
    std::string xml;
    ConversionStatus st = read_member(ws, zip, m.conditions, where, xml);
    if (st != ConversionStatus::done) return st;
    pugi::xml_document doc;
    std::string why;
    if (!parse_xml(xml, doc, why))
        return ws.fail(ConversionStatus::record_error, where + ": " + m.conditions + ": " + why);
    const pugi::xml_node root = doc.document_element();
    const pugi::xml_node scan = child_named(root, "ScanInformation");
    if (local_name(root) != "MeasurementConditions" || !scan)
        return ws.fail(ConversionStatus::record_error,
                       where + ": " + m.conditions + " holds no <ScanInformation>");
    s.axis = std::string(child_text(scan, "AxisName"));
    s.two_theta = is_two_theta_axis(s.axis);
    parse_number(child_text(scan, "Start"), s.start);
    parse_number(child_text(scan, "Stop"), s.stop);
    parse_number(child_text(scan, "Step"), s.step);
    double speed = 0;
    parse_number(child_text(scan, "Speed"), speed);
    s.count_time = rigaku_time_per_step(speed, child_text(scan, "SpeedUnit"), s.step);
    s.per_second = child_text(scan, "IntensityUnit") == "cps";

    const pugi::xml_node tube = child_named(child_named(root, "HWConfigurations"), "XrayGenerator");
    s.wavelengths = rigaku_wavelengths(
        child_text(tube, "WavelengthKalpha1"), child_text(tube, "WavelengthKalpha2"),
        child_text(tube, "WavelengthKbeta"), child_text(tube, "WaveType"), where, s.notes);
    const pugi::xml_node general = child_named(root, "GeneralInformation");
    s.title = std::string(child_text(general, "SampleName"));
    if (s.title.empty()) s.title = std::string(child_text(general, "Comment"));

    std::string rows;
    st = read_member(ws, zip, m.profile, where, rows);
    if (st != ConversionStatus::done) return st;
    if (!parse_ras_rows(rows, 1, s, why))
        return ws.fail(ConversionStatus::record_error, where + ", " + m.profile + ", " + why);
    return ConversionStatus::done;
}

ConversionStatus read_rasx(Workspace& ws) {
    const std::string file(ws.input().file_name());
    ZipArchive zip;
    if (!zip.open(ws.input().bytes())) {
        if (zip.error() == ZipArchive::Error::not_zip)
            return ws.fail(ConversionStatus::not_available,
                           file + " is not a zip archive: not a Rigaku RASX file");
        return ws.fail(ConversionStatus::premature_end, file + ": " + zip.error_text());
    }
    std::vector<ProfileMember> members;
    for (const std::string& name : zip.members()) {
        ProfileMember m;
        if (!profile_member(name, m)) continue;
        const std::string folder = "Data" + std::to_string(m.folder) + "/";
        const std::string number = std::to_string(m.index) + ".xml";
        // The archives spell the member "Mesurement"; the right spelling is taken too.
        m.conditions = folder + "MesurementConditions" + number;
        if (!zip.contains(m.conditions) && zip.contains(folder + "MeasurementConditions" + number))
            m.conditions = folder + "MeasurementConditions" + number;
        members.push_back(std::move(m));
    }
    if (members.empty())
        return ws.fail(ConversionStatus::not_available,
                       file +
                           " is a zip archive without Data0/Profile0.txt: not a Rigaku RASX "
                           "file");
    std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
        return a.folder != b.folder ? a.folder < b.folder : a.index < b.index;
    });
    const auto count = static_cast<int32_t>(members.size());
    return convert_scan(ws, count, [&](int32_t i, InstrumentScan& s) {
        const ProfileMember& m = members[static_cast<std::size_t>(i)];
        return load_profile(ws, zip, m, count == 1 ? file : file + ", " + m.profile, s);
    });
}

}  // namespace

ConversionStatus rigaku_rasx_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_rasx(ws);
    });
}

}  // namespace qelda
