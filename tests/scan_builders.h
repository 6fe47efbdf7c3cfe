// Small instrument files in the shapes real ones have (RAS text, BRML and RASX
// zip archives), built in memory: tests read them, and the fuzzing takes them
// as seeds.
#pragma once

#include <string>
#include <vector>

#include "tests/zip_fixture.h"

namespace qelda::testing {

inline std::string ras_block(const std::string& axis, const std::string& rows,
                             const std::string& extra = "") {
    return "*RAS_HEADER_START\r\n*FILE_SAMPLE \"quartz\"\r\n*MEAS_SCAN_AXIS_X \"" + axis +
           "\"\r\n*MEAS_SCAN_AXIS_X_INTERNAL \"" + axis +
           "\"\r\n*MEAS_SCAN_STEP \"0.02\"\r\n*HW_XG_WAVE_LENGTH_ALPHA1 \"1.540593\"\r\n"
           "*HW_XG_WAVE_LENGTH_ALPHA2 \"1.544414\"\r\n*MEAS_COND_XG_WAVE_TYPE \"Ka1\"\r\n" +
           extra + "*RAS_HEADER_END\r\n*RAS_INT_START\r\n" + rows + "*RAS_INT_END\r\n";
}

inline std::string ras(const std::string& blocks, const std::string& end = "*RAS_DATA_END\r\n") {
    return "*RAS_DATA_START\r\n" + blocks + end;
}

inline const std::string kRows = "20.00 10 1\r\n20.02 12 1\r\n20.04 14 1\r\n";

inline std::string raw_data(const std::string& axis_id, const std::string& datums) {
    return "<?xml version=\"1.0\"?><RawData><DataRoutes><DataRoute RouteFlag=\"Measured\">"
           "<ScanInformation><TimePerStep>2</TimePerStep><ScanAxes><ScanAxisInfo AxisId=\"" +
           axis_id + "\" VisibleName=\"" + axis_id +
           "\"><Start>30</Start><Stop>30.1</Stop><Increment>0.05</Increment></ScanAxisInfo>"
           "</ScanAxes></ScanInformation>" +
           datums +
           "</DataRoute></DataRoutes><FixedInformation><Instrument><Tube>"
           "<WaveLengthAlpha1 Value=\"1.5406\"/><WaveLengthAlpha2 Value=\"1.54439\"/>"
           "<WaveLengthRatio Value=\"0.5\"/></Tube></Instrument></FixedInformation></RawData>";
}

// time, absorption factor, 2theta, theta, counts
inline const std::string kDatums =
    "<Datum>2,1,30,15,100</Datum><Datum>2,1,30.05,15.025,110</Datum>"
    "<Datum>2,1,30.1,15.05,120</Datum>";

inline std::string brml(const std::vector<std::string>& raw) {
    std::vector<ZipEntry> entries{{"experimentCollection.xml", "<ExperimentCollection/>"}};
    for (std::size_t i = 0; i < raw.size(); ++i)
        entries.push_back({"Experiment0/RawData" + std::to_string(i) + ".xml", raw[i], true});
    return make_zip(entries);
}

inline std::string rasx(const std::string& axis, const std::string& wave_type) {
    const std::string conditions =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><MeasurementConditions>"
        "<GeneralInformation><SampleName>quartz</SampleName></GeneralInformation>"
        "<HWConfigurations><XrayGenerator><WaveType>" +
        wave_type +
        "</WaveType><WavelengthKalpha1>1.540593</WavelengthKalpha1>"
        "<WavelengthKalpha2>1.544414</WavelengthKalpha2></XrayGenerator></HWConfigurations>"
        "<ScanInformation><AxisName>" +
        axis +
        "</AxisName><Start>20</Start><Stop>20.04</Stop><Step>0.02</Step><Speed>1</Speed>"
        "<SpeedUnit>deg/min</SpeedUnit><IntensityUnit>counts</IntensityUnit></ScanInformation>"
        "</MeasurementConditions>";
    return make_zip({{"root.xml", "<Root/>"},
                     {"Data0/Profile0.txt",
                      "\xEF\xBB\xBF"
                      "20.0000\t10\t1\r\n20.0200\t12\t1\r\n"
                      "20.0400\t14\t1\r\n",
                      true},
                     {"Data0/MesurementConditions0.xml", conditions, true}});
}

}  // namespace qelda::testing
