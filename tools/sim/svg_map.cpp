#include "svg_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

namespace sorlinx::sim {

namespace {

constexpr double WIDTH = 900;
constexpr double HEIGHT = 700;
constexpr double MARGIN = 70;
constexpr double PANEL = 260;  // the legend and the list of clients, on the right

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

bool contains(const std::vector<ClientId>& list, ClientId client) {
  return std::find(list.begin(), list.end(), client) != list.end();
}

// Maps the x/z plane onto the drawing: x to the right, z upwards, one scale for both axes
// so that distances and angles look as they are.
struct Projection {
  double minX = -1, maxX = 1, minZ = -1, maxZ = 1;
  double scale = 1;
  double left = MARGIN, top = MARGIN;

  void fit() {
    const double spanX = std::max(maxX - minX, 1e-6);
    const double spanZ = std::max(maxZ - minZ, 1e-6);
    const double areaWidth = WIDTH - PANEL - 2 * MARGIN;
    const double areaHeight = HEIGHT - 2 * MARGIN;
    scale = std::min(areaWidth / spanX, areaHeight / spanZ);
    left = MARGIN + (areaWidth - spanX * scale) / 2;
    top = MARGIN + (areaHeight - spanZ * scale) / 2;
  }
  [[nodiscard]] double x(double worldX) const { return left + (worldX - minX) * scale; }
  [[nodiscard]] double y(double worldZ) const { return top + (maxZ - worldZ) * scale; }
};

}  // namespace

void writeSvgMap(std::ostream& out, const Outcome& outcome) {
  Projection view;
  bool any = false;
  const auto include = [&](double x, double z) {
    if (!std::isfinite(x) || !std::isfinite(z)) {
      return;
    }
    if (!any) {
      view.minX = view.maxX = x;
      view.minZ = view.maxZ = z;
      any = true;
    }
    view.minX = std::min(view.minX, x);
    view.maxX = std::max(view.maxX, x);
    view.minZ = std::min(view.minZ, z);
    view.maxZ = std::max(view.maxZ, z);
  };
  include(0, 0);
  for (const ClientInfo& client : outcome.clients) {
    for (const Vector3& at : client.trail) {
      include(at.x, at.z);
    }
  }
  // Some room around the outermost points.
  const double padX = std::max((view.maxX - view.minX) * 0.08, 1.0);
  const double padZ = std::max((view.maxZ - view.minZ) * 0.08, 1.0);
  view.minX -= padX;
  view.maxX += padX;
  view.minZ -= padZ;
  view.maxZ += padZ;
  view.fit();

  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << WIDTH << "\" height=\"" << HEIGHT
      << "\" viewBox=\"0 0 " << WIDTH << ' ' << HEIGHT
      << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>\n"
      << "<text x=\"" << MARGIN << "\" y=\"30\" font-size=\"17\" font-weight=\"bold\">"
      << "sorlinx: the voice client's space seen from above (x to the right, z upwards)"
      << "</text>\n"
      << "<text x=\"" << MARGIN << "\" y=\"48\" font-size=\"12\" fill=\"#555\">"
      << "Height (y) under each name. All players on the x axis, with heights like "
      << "distances: the game swapped y and z.</text>\n";

  // The axes through the origin, labelled, so that swapped coordinates stand out: a game
  // that sends its height where z belongs lines everyone up along the x axis.
  const double originX = view.x(0);
  const double originY = view.y(0);
  const double areaRight = WIDTH - PANEL - MARGIN / 2;
  out << "<g stroke=\"#9a9a9a\" stroke-width=\"1\">"
      << "<line x1=\"" << MARGIN / 2 << "\" y1=\"" << number(originY) << "\" x2=\"" << areaRight
      << "\" y2=\"" << number(originY) << "\"/>"
      << "<line x1=\"" << number(originX) << "\" y1=\"" << HEIGHT - MARGIN / 2 << "\" x2=\""
      << number(originX) << "\" y2=\"" << MARGIN / 2 + 20 << "\"/></g>\n"
      << "<text x=\"" << areaRight - 30 << "\" y=\"" << number(originY + 16)
      << "\" fill=\"#666\">x &#8594;</text>\n"
      << "<text x=\"" << number(originX + 6) << "\" y=\"" << MARGIN / 2 + 32
      << "\" fill=\"#666\">z &#8593;</text>\n"
      << "<circle cx=\"" << number(originX) << "\" cy=\"" << number(originY)
      << "\" r=\"4\" fill=\"none\" stroke=\"#444\"/>"
      << "<text x=\"" << number(originX - 44) << "\" y=\"" << number(originY + 16)
      << "\" fill=\"#444\">origin</text>\n";

  // A scale bar: one round length of the game's units.
  const double worldSpan = (view.maxX - view.minX) / 4;
  const double unit = std::pow(10.0, std::floor(std::log10(std::max(worldSpan, 1e-6))));
  out << "<g stroke=\"#444\"><line x1=\"" << MARGIN << "\" y1=\"" << HEIGHT - 25 << "\" x2=\""
      << number(MARGIN + unit * view.scale) << "\" y2=\"" << HEIGHT - 25 << "\"/></g>"
      << "<text x=\"" << MARGIN << "\" y=\"" << HEIGHT - 32 << "\" fill=\"#444\">" << number(unit)
      << " units</text>\n";

  // Labels that would print over one another are stacked below each other instead.
  std::vector<std::pair<double, double>> labelled;
  int row = 0;
  for (const ClientInfo& client : outcome.clients) {
    const bool rc = contains(outcome.rcClients, client.id);
    const bool rl = contains(outcome.rlClients, client.id);
    const bool local = client.id == outcome.localClient;
    const std::string label = std::to_string(client.id) + " " + escaped(client.nickname);
    const std::string colour = rc ? "#c62828" : rl ? "#1565c0" : local ? "#2e7d32" : "#555";

    // The list on the right names everyone, placed or not.
    const double listY = MARGIN + 40 + row++ * 18;
    out << "<text x=\"" << WIDTH - PANEL + 10 << "\" y=\"" << listY << "\" fill=\"" << colour
        << "\">" << label << (local ? " (you)" : "") << (rc ? " [RC]" : "") << (rl ? " [RL]" : "");
    if (!client.trail.empty()) {
      const Vector3& at = client.trail.back();
      out << ": " << number(at.x) << ", " << number(at.y) << ", " << number(at.z);
    } else {
      out << ": never placed";
    }
    out << "</text>\n";
    if (client.trail.empty()) {
      continue;
    }

    if (client.trail.size() > 1) {
      out << "<polyline fill=\"none\" stroke=\"" << colour
          << "\" stroke-opacity=\"0.35\" stroke-width=\"2\" points=\"";
      for (const Vector3& at : client.trail) {
        out << number(view.x(at.x)) << ',' << number(view.y(at.z)) << ' ';
      }
      out << "\"/>\n";
      for (std::size_t i = 0; i + 1 < client.trail.size(); ++i) {
        out << "<circle cx=\"" << number(view.x(client.trail[i].x)) << "\" cy=\""
            << number(view.y(client.trail[i].z)) << "\" r=\"2\" fill=\"" << colour
            << "\" fill-opacity=\"0.4\"/>\n";
      }
    }
    const Vector3& at = client.trail.back();
    const double cx = view.x(at.x);
    const double cy = view.y(at.z);
    double labelY = cy;
    while (std::any_of(labelled.begin(), labelled.end(), [&](const auto& placed) {
      return std::fabs(placed.first - cx) < 120 && std::fabs(placed.second - labelY) < 28;
    })) {
      labelY += 30;
    }
    labelled.emplace_back(cx, labelY);
    if (local) {
      out << "<rect x=\"" << number(cx - 8) << "\" y=\"" << number(cy - 8)
          << "\" width=\"16\" height=\"16\" fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"2\"/>";
    }
    if (rc || rl) {
      out << "<circle cx=\"" << number(cx) << "\" cy=\"" << number(cy)
          << "\" r=\"11\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2.5\"/>";
    }
    out << "<circle cx=\"" << number(cx) << "\" cy=\"" << number(cy) << "\" r=\"5\" fill=\""
        << colour << "\"/>\n"
        << "<text x=\"" << number(cx + 13) << "\" y=\"" << number(labelY - 6) << "\" fill=\""
        << colour << "\">" << label << (rc ? " RC" : "") << (rl ? " RL" : "")
        << (local ? " (you)" : "") << "</text>"
        << "<text x=\"" << number(cx + 13) << "\" y=\"" << number(labelY + 9)
        << "\" fill=\"#777\" font-size=\"11\">height y " << number(at.y) << "</text>\n";
  }

  // The legend.
  const double legendY = HEIGHT - 120;
  const double legendX = WIDTH - PANEL + 10;
  out << "<text x=\"" << legendX << "\" y=\"" << MARGIN + 20
      << "\" font-weight=\"bold\">Clients (x, y, z)</text>\n"
      << "<g font-size=\"12\">"
      << "<circle cx=\"" << legendX + 6 << "\" cy=\"" << legendY << "\" r=\"5\" fill=\"#555\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 4
      << "\">client, last position</text>"
      << "<circle cx=\"" << legendX + 6 << "\" cy=\"" << legendY + 20
      << "\" r=\"9\" fill=\"none\" stroke=\"#c62828\" stroke-width=\"2.5\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 24 << "\">on the RC list</text>"
      << "<circle cx=\"" << legendX + 6 << "\" cy=\"" << legendY + 42
      << "\" r=\"9\" fill=\"none\" stroke=\"#1565c0\" stroke-width=\"2.5\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 46 << "\">on the RL list</text>"
      << "<rect x=\"" << legendX - 2 << "\" y=\"" << legendY + 56
      << "\" width=\"16\" height=\"16\" fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"2\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 68 << "\">the local client</text>"
      << "<text x=\"" << legendX << "\" y=\"" << legendY + 90
      << "\">faint lines: earlier positions</text></g>\n"
      << "</svg>\n";
}

}  // namespace sorlinx::sim
