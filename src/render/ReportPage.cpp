#include "render/ReportPage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>

#include "render/DistortionHeatMap.h"

namespace {

const char* const kStyle = R"(
body{font:14px/1.4 sans-serif;margin:1em 2em;color:#222;background:#fff}
h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em;border-bottom:1px solid #ccc}
pre{background:#f4f4f4;padding:.6em;overflow:auto;white-space:pre-wrap;word-break:break-all}
.cells{display:flex;flex-wrap:wrap;gap:12px}
figure.cell{margin:0;border:1px solid #ddd;padding:6px;background:#fafafa}
figure.cell figcaption{font-weight:bold;margin-bottom:4px}
figure.cell .pair{display:flex;gap:4px}
figure.cell img{width:170px;height:auto;background:#ccc}
figure.cell .note{font-size:.85em;color:#666;max-width:344px}
table{border-collapse:collapse;margin:.5em 0}
th,td{border:1px solid #ccc;padding:2px 6px;text-align:right}
#statistics-table{font-size:12px}
th{background:#eee;cursor:pointer;user-select:none;white-space:nowrap}
td.t,th.t{text-align:left}
th[data-dir=asc]::after{content:" \25B2"}th[data-dir=desc]::after{content:" \25BC"}
.null{color:#999}
svg{vertical-align:middle}
)";

// Sorts a table.sortable by the clicked header: numbers by value (data-v:
// a number, "inf", "-inf" or empty for null, nulls last either way), text
// by natural order; a second click on the same header reverses.
const char* const kScript = R"(
(function(){
function key(cell,num){
  if(!num)return cell.textContent;
  var v=cell.getAttribute('data-v');
  if(v===null||v==='')return null;
  if(v==='inf')return Infinity;
  if(v==='-inf')return -Infinity;
  var x=parseFloat(v);return isNaN(x)?null:x;
}
Array.prototype.forEach.call(document.querySelectorAll('table.sortable'),function(t){
  var ths=t.tHead.rows[0].cells;
  Array.prototype.forEach.call(ths,function(th,i){
    th.addEventListener('click',function(){
      var dir=th.getAttribute('data-dir')==='asc'?'desc':'asc';
      Array.prototype.forEach.call(ths,function(h){h.removeAttribute('data-dir');});
      th.setAttribute('data-dir',dir);
      var num=th.getAttribute('data-type')==='num';
      var body=t.tBodies[0];
      var rows=Array.prototype.map.call(body.rows,function(r,k){return {r:r,k:key(r.cells[i],num),o:k};});
      rows.sort(function(a,b){
        if(a.k===null||b.k===null){return a.k===b.k?a.o-b.o:(a.k===null?1:-1);}
        var c=num?(a.k<b.k?-1:(a.k>b.k?1:0)):a.k.localeCompare(b.k,undefined,{numeric:true});
        if(dir==='desc')c=-c;
        return c||a.o-b.o;
      });
      rows.forEach(function(x){body.appendChild(x.r);});
    });
  });
});
})();
)";

std::string Hex(const unsigned char rgb[3]) {
  char text[8];
  std::snprintf(text, sizeof(text), "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

// The value of data-v: full precision, so that a sort sees what the table rounds.
std::string SortValue(const ReportValue& value) {
  if (!value.m_bNumber || std::isnan(value.m_fNumber)) return std::string();
  if (std::isinf(value.m_fNumber)) return value.m_fNumber > 0 ? "inf" : "-inf";
  char text[32];
  std::snprintf(text, sizeof(text), "%.17g", value.m_fNumber);
  return text;
}

void AppendTable(std::string& html, const ReportTable& table, const char* id) {
  html += std::string("<table class=\"sortable\" id=\"") + id + "\"><thead><tr>";
  for (size_t c = 0; c < table.m_Headers.size(); ++c) {
    const bool numeric = c < table.m_Numeric.size() && table.m_Numeric[c];
    html += numeric ? "<th data-type=\"num\">" : "<th class=\"t\">";
    html += ReportPage::Escape(table.m_Headers[c]) + "</th>";
  }
  html += "</tr></thead><tbody>\n";
  for (const std::vector<ReportValue>& row : table.m_Rows) {
    html += "<tr>";
    for (size_t c = 0; c < row.size(); ++c) {
      const bool numeric = c < table.m_Numeric.size() && table.m_Numeric[c];
      if (numeric) {
        const std::string v = SortValue(row[c]);
        html += "<td data-v=\"" + v + "\"" + (v.empty() ? " class=\"null\">" : ">");
      } else {
        html += "<td class=\"t\">";
      }
      html += ReportPage::Escape(row[c].m_Text) + "</td>";
    }
    html += "</tr>\n";
  }
  html += "</tbody></table>\n";
}

void AppendFigures(std::string& html, const std::vector<ReportFigure>& figures) {
  html += "<div class=\"cells\">\n";
  for (size_t k = 0; k < figures.size(); ++k) {
    const ReportFigure& f = figures[k];
    const std::string size = f.m_iWidth > 0 && f.m_iHeight > 0
                                 ? " width=\"" + std::to_string(f.m_iWidth) + "\" height=\"" +
                                       std::to_string(f.m_iHeight) + "\""
                                 : std::string();
    html += "<figure class=\"cell\"><figcaption>" + ReportPage::Escape(f.m_Name) +
            "</figcaption><div class=\"pair\">";
    html += "<img src=\"" + ReportPage::Escape(f.m_Picture) + "\"" + size + " alt=\"" +
            ReportPage::Escape(f.m_Name) + "\">";
    if (!f.m_HeatMap.empty()) {
      html += "<img src=\"" + ReportPage::Escape(f.m_HeatMap) + "\"" + size + " alt=\"heat map of " +
              ReportPage::Escape(f.m_Name) + "\">";
    }
    html += "</div>";
    if (!f.m_Note.empty()) html += "<div class=\"note\">" + ReportPage::Escape(f.m_Note) + "</div>";
    html += "</figure>\n";
  }
  html += "</div>\n";
}

// The finite range of one quantity over every cell's box, widened when flat.
void AxisOf(const std::vector<SweepCellSummary>& cells, SweepBox SweepCellSummary::*field,
            double& low, double& high) {
  low = std::numeric_limits<double>::infinity();
  high = -low;
  for (const SweepCellSummary& c : cells) {
    const SweepBox& b = c.*field;
    if (b.m_iCount == 0) continue;
    for (double v : {b.m_fMin, b.m_fQ1, b.m_fMedian, b.m_fQ3, b.m_fP90, b.m_fMax}) {
      if (std::isfinite(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  }
  if (!(low <= high)) low = 0.0, high = 1.0;
  if (high - low < 1e-12) low -= 0.5, high += 0.5;
}

void AppendStatistics(std::string& html, const ReportContent& content) {
  struct Column {
    const char* title;
    SweepBox SweepCellSummary::*box;
    int decimals;
    bool lowIsWorst;
  };
  const Column columns[] = {{"K max", &SweepCellSummary::m_ConformalMax, 3, false},
                            {"K mean", &SweepCellSummary::m_ConformalMean, 3, false},
                            {"flipped share", &SweepCellSummary::m_FlippedShare, 4, false},
                            {"area min", &SweepCellSummary::m_AreaMin, 3, true},
                            {"area max", &SweepCellSummary::m_AreaMax, 3, false}};
  const std::vector<SweepCellSummary>& cells = content.m_Statistics;
  html += "<h2 id=\"statistics\">Statistics over the cases</h2>\n<p>" +
          ReportPage::Escape(content.m_StatisticsSource) +
          ". Per cell and number: the median, the 90th percentile (the 10th for area min) and the worst value over the "
          "cases that could be computed (percentiles by linear interpolation between the sorted "
          "values: rank (n - 1) p); the worst is the largest, and for area min the smallest. Cases "
          "without numbers are counted, not averaged. The box plots share one axis per number "
          "(shown under its header): whiskers from the smallest to the largest value, the box "
          "from the first to the third quartile, the median as a dark bar, the 90th percentile "
          "as a red tick, an arrow for an infinite value.</p>\n";

  ReportTable table;
  table.m_Headers = {"#", "Cell", "cases", "no numbers"};
  table.m_Numeric = {true, false, true, true};
  for (const Column& c : columns) {
    for (const char* part : {" median", " p90", " worst"}) {
      const bool low = c.lowIsWorst && part[1] == 'p';
      table.m_Headers.push_back(std::string(c.title) + (low ? " p10" : part));
      table.m_Numeric.push_back(true);
    }
  }
  auto number = [](double v, int decimals) {
    return ReportValue{ReportPage::Number(v, decimals), v, true};
  };
  for (const SweepCellSummary& s : cells) {
    std::vector<ReportValue> row = {number(s.m_iCell, 0), {s.m_Name, 0.0, false},
                                    number(s.m_iCases, 0), number(s.m_iRefused, 0)};
    for (const Column& c : columns) {
      const SweepBox& b = s.*(c.box);
      if (b.m_iCount == 0) {
        for (int k = 0; k < 3; ++k) row.push_back({"-", 0.0, false});
        continue;
      }
      row.push_back(number(b.m_fMedian, c.decimals));
      // For area min, the 10th percentile is the counterpart of the others' 90th.
      row.push_back(number(c.lowIsWorst ? b.m_fP10 : b.m_fP90, c.decimals));
      row.push_back(number(c.lowIsWorst ? b.m_fMin : b.m_fMax, c.decimals));
    }
    table.m_Rows.push_back(row);
  }
  AppendTable(html, table, "statistics-table");

  // Box plots: one column per number, one row per cell.
  html += "<table id=\"box-plots\"><thead><tr><th class=\"t\">Cell</th>";
  double lows[5], highs[5];
  for (int k = 0; k < 5; ++k) {
    AxisOf(cells, columns[k].box, lows[k], highs[k]);
    html += "<th class=\"t\">" + std::string(columns[k].title) + "<br><small>" +
            ReportPage::Number(lows[k], 3) + " to " + ReportPage::Number(highs[k], 3) +
            "</small></th>";
  }
  html += "</tr></thead><tbody>\n";
  for (const SweepCellSummary& s : cells) {
    html += "<tr><td class=\"t\">" + ReportPage::Escape(s.m_Name) + "</td>";
    for (int k = 0; k < 5; ++k) {
      html += "<td>" + ReportPage::BoxPlotSvg(s.*(columns[k].box), lows[k], highs[k], 140) + "</td>";
    }
    html += "</tr>\n";
  }
  html += "</tbody></table>\n";
  for (const SweepCellSummary& s : cells) {
    if (s.m_iRefused == 0) continue;
    html += "<p>" + ReportPage::Escape(s.m_Name) + ": " + std::to_string(s.m_iRefused) + " of " +
            std::to_string(s.m_iCases) + " cases without numbers, e.g. " +
            ReportPage::Escape(s.m_FirstReason) + "</p>\n";
  }
}

}  // namespace

std::string ReportPage::Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ReportPage::Number(double value, int decimals) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (std::isnan(value)) return "nan";
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", std::clamp(decimals, 0, 17), value);
  return text;
}

std::string ReportPage::BoxPlotSvg(const SweepBox& box, double low, double high, int width) {
  if (box.m_iCount == 0) return std::string();
  const double margin = 6.0, span = width - 2.0 * margin;
  // x of a value; an infinite one at the edge beyond the axis.
  auto x = [&](double v) {
    if (std::isinf(v)) return v > 0 ? width - 1.0 : 1.0;
    const double t = high > low ? (v - low) / (high - low) : 0.5;
    return margin + std::clamp(t, 0.0, 1.0) * span;
  };
  char text[160];
  std::string svg = "<svg class=\"box\" width=\"" + std::to_string(width) +
                    "\" height=\"16\" viewBox=\"0 0 " + std::to_string(width) + " 16\">";
  std::snprintf(text, sizeof(text), "<line x1=\"%.1f\" y1=\"8\" x2=\"%.1f\" y2=\"8\" stroke=\"#555\"/>",
                x(box.m_fMin), x(box.m_fMax));
  svg += text;
  std::snprintf(text, sizeof(text),
                "<rect x=\"%.1f\" y=\"3\" width=\"%.1f\" height=\"10\" fill=\"#9cc3e6\" stroke=\"#355\"/>",
                x(box.m_fQ1), std::max(1.0, x(box.m_fQ3) - x(box.m_fQ1)));
  svg += text;
  std::snprintf(text, sizeof(text), "<rect x=\"%.1f\" y=\"2\" width=\"2\" height=\"12\" fill=\"#123\"/>",
                x(box.m_fMedian) - 1.0);
  svg += text;
  std::snprintf(text, sizeof(text), "<line x1=\"%.1f\" y1=\"1\" x2=\"%.1f\" y2=\"15\" stroke=\"#c00\"/>",
                x(box.m_fP90), x(box.m_fP90));
  svg += text;
  for (double end : {box.m_fMin, box.m_fMax}) {
    if (!std::isinf(end)) continue;
    const double tip = x(end), back = end > 0 ? tip - 5.0 : tip + 5.0;
    std::snprintf(text, sizeof(text), "<path d=\"M%.1f 8L%.1f 3L%.1f 13Z\" fill=\"#c00\"/>", tip,
                  back, back);
    svg += text;
  }
  svg += "<title>min " + Number(box.m_fMin, 3) + ", q1 " + Number(box.m_fQ1, 3) + ", median " +
         Number(box.m_fMedian, 3) + ", q3 " + Number(box.m_fQ3, 3) + ", p90 " +
         Number(box.m_fP90, 3) + ", max " + Number(box.m_fMax, 3) + " (" +
         std::to_string(box.m_iCount) + " cases)</title></svg>";
  return svg;
}

std::string ReportPage::LegendSvg() {
  // The scale is log K / log 4: stops every 1/16 of it.
  std::string svg =
      "<svg id=\"legend\" width=\"420\" height=\"58\" viewBox=\"0 0 420 58\"><defs>"
      "<linearGradient id=\"scale\" x1=\"0\" x2=\"1\" y1=\"0\" y2=\"0\">";
  char text[128];
  for (int k = 0; k <= 16; ++k) {
    unsigned char rgb[3];
    DistortionHeatMap::ScaleColour(k / 16.0, rgb);
    std::snprintf(text, sizeof(text), "<stop offset=\"%.4f\" stop-color=\"%s\"/>", k / 16.0,
                  Hex(rgb).c_str());
    svg += text;
  }
  svg += "</linearGradient></defs><rect x=\"10\" y=\"4\" width=\"300\" height=\"20\" "
         "fill=\"url(#scale)\" stroke=\"#333\"/>";
  for (double k : {1.0, 1.25, 1.5, 2.0, 3.0, 4.0}) {
    const double xk = 10.0 + 300.0 * std::log(k) / std::log(DistortionHeatMap::kTopOfScale);
    std::snprintf(text, sizeof(text),
                  "<line x1=\"%.1f\" y1=\"24\" x2=\"%.1f\" y2=\"29\" stroke=\"#333\"/>"
                  "<text x=\"%.1f\" y=\"42\" font-size=\"11\" text-anchor=\"middle\">%s</text>",
                  xk, xk, xk, k == 4.0 ? "4+" : Number(k, k == 1.25 ? 2 : (k == 1.5 ? 1 : 0)).c_str());
    svg += text;
  }
  svg += "<text x=\"160\" y=\"56\" font-size=\"11\" text-anchor=\"middle\">K = s1 / s2 "
         "(1: angles kept)</text>";
  FaceDistortion flipped;
  flipped.m_bFlipped = true;
  unsigned char rgb[3];
  DistortionHeatMap::FaceColour(flipped, rgb);
  svg += "<rect x=\"330\" y=\"4\" width=\"20\" height=\"20\" fill=\"" + Hex(rgb) +
         "\" stroke=\"#333\"/><text x=\"355\" y=\"18\" font-size=\"11\">flipped</text></svg>";
  return svg;
}

std::string ReportPage::Html(const ReportContent& c) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width\">\n<title>" +
      Escape(c.m_Title) + "</title>\n<style>" + kStyle + "</style></head><body>\n<h1>" +
      Escape(c.m_Title) + "</h1>\n";
  html += "<p>Rebuilt by running, in <code>" + Escape(c.m_WorkingDir) + "</code>:</p>\n<pre id=\"command\">" +
          Escape(c.m_CommandLine) + "</pre>\n";

  html += "<h2 id=\"cells\">Cells</h2>\n<p>Each cell's picture, and beside it its distortion "
          "heat map:</p>\n" + LegendSvg() + "\n";
  AppendFigures(html, c.m_Figures);

  html += "<h2 id=\"distortion\">Distortion numbers</h2>\n<p>Click a header to sort by it, "
          "again to reverse; cells without numbers stay last.</p>\n";
  AppendTable(html, c.m_Table, "numbers");

  if (!c.m_StatisticsSource.empty()) AppendStatistics(html, c);

  html += "<h2 id=\"inputs\">Inputs</h2>\n<h3>Control points</h3>\n<pre id=\"control-points\">" +
          Escape(c.m_ControlPoints) + "</pre>\n<h3>Override tokens</h3>\n<pre id=\"overrides\">" +
          Escape(c.m_Overrides.empty() ? "(none)" : c.m_Overrides) + "</pre>\n<h3>Parameter file " +
          Escape(c.m_ParameterPath) + "</h3>\n<pre id=\"parameters\">" + Escape(c.m_ParameterText) +
          "</pre>\n";
  html += std::string("<script>") + kScript + "</script>\n</body></html>\n";
  return html;
}

bool ReportPage::Write(const std::string& path, const ReportContent& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << Html(content);
  out.close();
  return static_cast<bool>(out);
}
