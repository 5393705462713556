#include "svg_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <string>

namespace sorlinx::sim {

namespace {

constexpr double WIDTH = 900;
constexpr double HEIGHT = 700;
constexpr double MARGIN = 70;
constexpr double PANEL = 260;   // the legend and the list of clients, on the right
constexpr double DOT_BOX = 24;  // the room a client's marker takes, rings included

// A frame and a trail vote on the heights only when one spread is this many times the other.
constexpr double SPREAD_RATIO = 10;

// A text for the SVG (XML, UTF-8): markup escaped, UTF-8 as it stands, control characters
// as "?", and each byte that is no part of well-formed UTF-8 as \xHH, so that the file stays
// readable whatever the game wrote.
std::string escaped(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const std::size_t length = utf8SequenceLength(std::string_view(text).substr(at));
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
        if (length == 0) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
          out += escape;
        } else if (static_cast<unsigned char>(c) < 0x20) {
          out += '?';
        } else {
          out.append(text, at, length);
          at += length;
          continue;
        }
    }
    ++at;
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

// The times of the stale-frame resets: the plugin lists the local channel's clients then,
// and puts each at the origin. (A name query lists them too, but places nobody.)
std::set<Milliseconds> resetTimes(const std::vector<Event>& events) {
  std::set<Milliseconds> times;
  for (const Event& event : events) {
    if (event.kind == EventKind::query && event.text == "getChannelClientList") {
      times.insert(event.time);
    }
  }
  return times;
}

bool atOrigin(const Vector3& at) { return at.x == 0 && at.y == 0 && at.z == 0; }

struct Fix {
  Milliseconds time;
  Vector3 at;
  bool reset;
};

struct MapClient {
  ClientId id = 0;
  std::string nickname;
  bool present = true;  // still on the server at the end
  std::vector<Fix> fixes;

  // The last position the game gave it, if any.
  [[nodiscard]] const Fix* lastPlaced() const {
    for (auto fix = fixes.rbegin(); fix != fixes.rend(); ++fix) {
      if (!fix->reset) {
        return &*fix;
      }
    }
    return nullptr;
  }
  // The reset that put it back at the origin after that, if one did.
  [[nodiscard]] const Fix* resetAfterwards() const {
    return !fixes.empty() && fixes.back().reset ? &fixes.back() : nullptr;
  }
};

// Every client of the session: those on the server at the end in their order, then those
// that were placed and left.
std::vector<MapClient> gather(const Outcome& outcome) {
  std::vector<MapClient> clients;
  for (const ClientInfo& info : outcome.clients) {
    clients.push_back({info.id, info.nickname, true, {}});
  }
  const std::set<Milliseconds> resets = resetTimes(outcome.events);
  for (const Event& event : outcome.events) {
    if (event.kind != EventKind::place || event.result != 0) {
      continue;
    }
    auto client = std::find_if(clients.begin(), clients.end(),
                               [&event](const MapClient& c) { return c.id == event.client; });
    if (client == clients.end()) {
      clients.push_back({event.client, event.nickname.value_or(""), false, {}});
      client = clients.end() - 1;
    }
    client->fixes.push_back(
        {event.time, event.position, atOrigin(event.position) && resets.count(event.time) != 0});
  }
  return clients;
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

Projection projectionFor(const std::vector<MapClient>& clients) {
  Projection view;
  view.minX = view.maxX = view.minZ = view.maxZ = 0;  // the origin is always in view
  for (const MapClient& client : clients) {
    for (const Fix& fix : client.fixes) {
      if (!fix.reset && std::isfinite(fix.at.x) && std::isfinite(fix.at.z)) {
        view.minX = std::min(view.minX, double{fix.at.x});
        view.maxX = std::max(view.maxX, double{fix.at.x});
        view.minZ = std::min(view.minZ, double{fix.at.z});
        view.maxZ = std::max(view.maxZ, double{fix.at.z});
      }
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
  return view;
}

void vote(const std::vector<Vector3>& points, HeightVotes& votes) {
  if (points.size() < 2) {
    return;
  }
  const auto spread = [&points](float Vector3::*axis) {
    const auto [low, high] = std::minmax_element(
        points.begin(), points.end(),
        [axis](const Vector3& a, const Vector3& b) { return a.*axis < b.*axis; });
    return double{(*high).*axis} - double{(*low).*axis};
  };
  const double heights = spread(&Vector3::y);
  const double depths = spread(&Vector3::z);
  if (heights > 0 && depths * SPREAD_RATIO <= heights) {
    ++votes.swapped;
  } else if (depths > 0 && heights * SPREAD_RATIO <= depths) {
    ++votes.right;
  }
}

double overlapArea(const Box& a, const Box& b) {
  const double w = std::min(a.left + a.width, b.left + b.width) - std::max(a.left, b.left);
  const double h = std::min(a.top + a.height, b.top + b.height) - std::max(a.top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

bool inside(const Box& box, const Box& area) {
  return box.left >= area.left && box.top >= area.top &&
         box.left + box.width <= area.left + area.width &&
         box.top + box.height <= area.top + area.height;
}

std::string colourOf(bool rc, bool rl, bool local) {
  return rc ? "#c62828" : rl ? "#1565c0" : local ? "#2e7d32" : "#555";
}

}  // namespace

bool Box::overlaps(const Box& other) const { return overlapArea(*this, other) > 0; }

HeightVotes voteOnHeights(const std::vector<Event>& events) {
  const std::set<Milliseconds> resets = resetTimes(events);
  std::map<Milliseconds, std::vector<Vector3>> frames;
  std::map<ClientId, std::vector<Vector3>> trails;
  for (const Event& event : events) {
    if (event.kind == EventKind::place && event.result == 0 &&
        !(atOrigin(event.position) && resets.count(event.time) != 0)) {
      frames[event.time].push_back(event.position);
      trails[event.client].push_back(event.position);
    }
  }
  HeightVotes votes;
  for (const auto& [time, points] : frames) {
    vote(points, votes);
  }
  for (const auto& [client, points] : trails) {
    vote(points, votes);
  }
  return votes;
}

std::vector<Box> placeLabels(const std::vector<LabelWish>& wishes, const std::vector<Box>& dots,
                             const Box& area) {
  constexpr double GAP = 14;   // from the anchor to the nearest side of its label
  constexpr double STEP = 16;  // from one ring of spots to the next
  constexpr int RINGS = 24;
  std::vector<Box> placed;
  for (const LabelWish& wish : wishes) {
    // Right, left, below, above, then the corners: each pushed out ring by ring.
    const std::array<std::pair<double, double>, 8> directions{
        {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, 1}, {1, -1}, {-1, -1}}};
    Box best;
    double bestOverlap = -1;
    for (int ring = 0; ring < RINGS && bestOverlap != 0; ++ring) {
      for (const auto& [dx, dy] : directions) {
        const double reach = GAP + ring * STEP;
        Box box{wish.anchorX + dx * reach -
                    (dx < 0    ? wish.width
                     : dx == 0 ? wish.width / 2
                               : 0),
                wish.anchorY + dy * reach -
                    (dy < 0    ? wish.height
                     : dy == 0 ? wish.height / 2
                               : 0),
                wish.width, wish.height};
        if (!inside(box, area)) {
          continue;
        }
        double overlap = 0;
        for (const Box& other : placed) {
          overlap += overlapArea(box, other);
        }
        for (const Box& dot : dots) {
          overlap += overlapArea(box, dot);
        }
        if (bestOverlap < 0 || overlap < bestOverlap) {
          best = box;
          bestOverlap = overlap;
          if (overlap == 0) {
            break;
          }
        }
      }
    }
    if (bestOverlap < 0) {  // nowhere inside the area: keep it beside its anchor
      best = {wish.anchorX + GAP, wish.anchorY - wish.height / 2, wish.width, wish.height};
    }
    placed.push_back(best);
  }
  return placed;
}

void writeSvgMap(std::ostream& out, const Outcome& outcome) {
  const std::vector<MapClient> clients = gather(outcome);
  const Projection view = projectionFor(clients);
  const HeightVotes votes = voteOnHeights(outcome.events);

  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << WIDTH << "\" height=\"" << HEIGHT
      << "\" viewBox=\"0 0 " << WIDTH << ' ' << HEIGHT
      << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#fbfbf8\"/>\n"
      << "<text x=\"" << MARGIN / 2 << "\" y=\"26\" font-size=\"17\" font-weight=\"bold\">"
      << "sorlinx: the voice client's space seen from above (x to the right, z upwards)"
      << "</text>\n"
      << "<text x=\"" << MARGIN / 2 << "\" y=\"42\" font-size=\"12\" fill=\"#555\">"
      << "Each client at the last position the game gave it, its trail behind it; its height "
      << "(y) under its name.</text>\n";
  if (votes.looksSwapped()) {
    out << "<text x=\"" << MARGIN / 2 << "\" y=\"57\" font-size=\"12\" fill=\"#c62828\">"
        << "<tspan font-weight=\"bold\">y and z look swapped: frames are x, z, y, the height "
        << "last.</tspan> In " << votes.swapped << " of the " << votes.swapped + votes.right
        << " frames and trails</text>\n"
        << "<text x=\"" << MARGIN / 2 << "\" y=\"71\" font-size=\"12\" fill=\"#c62828\">"
        << "that tell, the heights (y) spread like distances while z stays level.</text>\n";
  }

  // The axes through the origin, labelled, so that swapped coordinates stand out: a game
  // that sends its height where z belongs lines everyone up along the x axis.
  const double originX = view.x(0);
  const double originY = view.y(0);
  const double areaRight = WIDTH - PANEL - MARGIN / 2;
  out << "<g stroke=\"#9a9a9a\" stroke-width=\"1\">"
      << "<line x1=\"" << MARGIN / 2 << "\" y1=\"" << number(originY) << "\" x2=\"" << areaRight
      << "\" y2=\"" << number(originY) << "\"/>"
      << "<line x1=\"" << number(originX) << "\" y1=\"" << HEIGHT - MARGIN / 2 << "\" x2=\""
      << number(originX) << "\" y2=\"" << MARGIN + 10 << "\"/></g>\n"
      << "<text x=\"" << areaRight - 30 << "\" y=\"" << number(originY + 16)
      << "\" fill=\"#666\">x &#8594;</text>\n"
      << "<text x=\"" << number(originX + 6) << "\" y=\"" << MARGIN + 22
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

  // The trails first, under every dot: each run of positions between two resets, its
  // points with their times; the last position before a reset ringed, and a dashed line to
  // the origin where the reset put the client.
  std::vector<LabelWish> wishes;
  std::vector<Box> dots{{originX - DOT_BOX / 2, originY - DOT_BOX / 2, DOT_BOX, DOT_BOX}};
  std::vector<const MapClient*> drawn;
  for (const MapClient& client : clients) {
    const bool local = client.id == outcome.localClient;
    const std::string colour = colourOf(contains(outcome.rcClients, client.id),
                                        contains(outcome.rlClients, client.id), local);
    std::vector<const Fix*> run;
    const auto endRun = [&](const Fix* reset) {
      if (run.size() > 1) {
        out << "<polyline fill=\"none\" stroke=\"" << colour
            << "\" stroke-opacity=\"0.35\" stroke-width=\"2\" points=\"";
        for (const Fix* fix : run) {
          out << number(view.x(fix->at.x)) << ',' << number(view.y(fix->at.z)) << ' ';
        }
        out << "\"/>\n";
      }
      for (const Fix* fix : run) {
        out << "<circle cx=\"" << number(view.x(fix->at.x)) << "\" cy=\""
            << number(view.y(fix->at.z)) << "\" r=\"2.5\" fill=\"" << colour
            << "\" fill-opacity=\"0.45\"><title>" << escaped(client.nickname) << " at "
            << fix->time.count() << " ms: x " << number(fix->at.x) << ", y " << number(fix->at.y)
            << ", z " << number(fix->at.z) << "</title></circle>\n";
      }
      if (reset != nullptr && !run.empty()) {
        const double x = view.x(run.back()->at.x);
        const double y = view.y(run.back()->at.z);
        out << "<line x1=\"" << number(x) << "\" y1=\"" << number(y) << "\" x2=\""
            << number(originX) << "\" y2=\"" << number(originY) << "\" stroke=\"" << colour
            << "\" stroke-opacity=\"0.5\" stroke-dasharray=\"4 4\"/>"
            << "<circle cx=\"" << number(x) << "\" cy=\"" << number(y)
            << "\" r=\"7\" fill=\"none\" stroke=\"" << colour << "\" stroke-opacity=\"0.6\">"
            << "<title>" << escaped(client.nickname) << ": the last position before the "
            << "stale-frame reset at " << reset->time.count() << " ms</title></circle>\n";
      }
      run.clear();
    };
    for (const Fix& fix : client.fixes) {
      if (fix.reset) {
        endRun(&fix);
      } else {
        run.push_back(&fix);
      }
    }
    endRun(nullptr);
    if (const Fix* last = client.lastPlaced()) {
      const double cx = view.x(last->at.x);
      const double cy = view.y(last->at.z);
      dots.push_back({cx - DOT_BOX / 2, cy - DOT_BOX / 2, DOT_BOX, DOT_BOX});
      drawn.push_back(&client);
    }
  }

  // The dots, then their labels where they do not cover one another.
  for (const MapClient* client : drawn) {
    const bool rc = contains(outcome.rcClients, client->id);
    const bool rl = contains(outcome.rlClients, client->id);
    const bool local = client->id == outcome.localClient;
    const std::string colour = colourOf(rc, rl, local);
    const Fix& last = *client->lastPlaced();
    const double cx = view.x(last.at.x);
    const double cy = view.y(last.at.z);
    if (local) {
      out << "<rect x=\"" << number(cx - 8) << "\" y=\"" << number(cy - 8)
          << "\" width=\"16\" height=\"16\" fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"2\"/>";
    }
    if (rc || rl) {
      out << "<circle cx=\"" << number(cx) << "\" cy=\"" << number(cy)
          << "\" r=\"11\" fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2.5\"/>";
    }
    out << "<circle cx=\"" << number(cx) << "\" cy=\"" << number(cy) << "\" r=\"5\" fill=\""
        << colour << "\"/>\n";
    const std::string name = std::to_string(client->id) + " " + client->nickname +
                             (rc ? " RC" : "") + (rl ? " RL" : "") + (local ? " (you)" : "");
    const std::string height = "height y " + number(last.at.y);
    wishes.push_back({cx, cy,
                      std::max(static_cast<double>(name.size()) * 7.4,
                               static_cast<double>(height.size()) * 6.4) +
                          4,
                      30});
  }
  const Box area{MARGIN / 2, MARGIN, WIDTH - PANEL - MARGIN, HEIGHT - MARGIN - 40};
  const std::vector<Box> labels = placeLabels(wishes, dots, area);
  for (std::size_t i = 0; i < drawn.size(); ++i) {
    const MapClient& client = *drawn[i];
    const Box& box = labels[i];
    const bool rc = contains(outcome.rcClients, client.id);
    const bool rl = contains(outcome.rlClients, client.id);
    const bool local = client.id == outcome.localClient;
    const std::string colour = colourOf(rc, rl, local);
    const double ax = wishes[i].anchorX;
    const double ay = wishes[i].anchorY;
    // A label pushed away from its dot keeps a thin line to it.
    const double nearX = std::clamp(ax, box.left, box.left + box.width);
    const double nearY = std::clamp(ay, box.top, box.top + box.height);
    if (std::hypot(nearX - ax, nearY - ay) > 20) {
      out << "<line x1=\"" << number(ax) << "\" y1=\"" << number(ay) << "\" x2=\"" << number(nearX)
          << "\" y2=\"" << number(nearY) << "\" stroke=\"" << colour
          << "\" stroke-width=\"0.8\" stroke-opacity=\"0.6\"/>";
    }
    out << "<text x=\"" << number(box.left + 2) << "\" y=\"" << number(box.top + 12) << "\" fill=\""
        << colour << "\">" << client.id << ' ' << escaped(client.nickname) << (rc ? " RC" : "")
        << (rl ? " RL" : "") << (local ? " (you)" : "") << "</text>"
        << "<text x=\"" << number(box.left + 2) << "\" y=\"" << number(box.top + 27)
        << "\" fill=\"#777\" font-size=\"11\">height y " << number(client.lastPlaced()->at.y)
        << "</text>\n";
  }

  // The list on the right names everyone, placed or not, with what became of them.
  const double legendY = HEIGHT - 130;
  const double listX = WIDTH - PANEL + 10;
  out << "<text x=\"" << listX << "\" y=\"" << MARGIN + 20
      << "\" font-weight=\"bold\">Clients (x, y, z)</text>\n";
  double rowY = MARGIN + 40;
  int shown = 0;
  for (const MapClient& client : clients) {
    const bool rc = contains(outcome.rcClients, client.id);
    const bool rl = contains(outcome.rlClients, client.id);
    const bool local = client.id == outcome.localClient;
    const Fix* last = client.lastPlaced();
    const Fix* reset = client.resetAfterwards();
    const int rows = 1 + (reset != nullptr || !client.present ? 1 : 0);
    if (rowY + rows * 16 > legendY - 20) {
      out << "<text x=\"" << listX << "\" y=\"" << rowY << "\" fill=\"#555\">... and "
          << clients.size() - static_cast<std::size_t>(shown) << " more</text>\n";
      break;
    }
    ++shown;
    out << "<text x=\"" << listX << "\" y=\"" << rowY << "\" fill=\"" << colourOf(rc, rl, local)
        << "\">" << client.id << ' ' << escaped(client.nickname) << (local ? " (you)" : "")
        << (rc ? " [RC]" : "") << (rl ? " [RL]" : "");
    if (last != nullptr) {
      out << ": " << number(last->at.x) << ", " << number(last->at.y) << ", " << number(last->at.z)
          << " at " << last->time.count() << " ms";
    } else {
      out << (reset != nullptr ? ": only the reset placed it" : ": never placed");
    }
    out << "</text>\n";
    rowY += 16;
    if (rows == 2) {
      out << "<text x=\"" << listX + 12 << "\" y=\"" << rowY << "\" fill=\"#777\" font-size=\"11\">"
          << (reset != nullptr
                  ? "back at the origin at " + std::to_string(reset->time.count()) + " ms (reset)"
                  : std::string())
          << (reset != nullptr && !client.present ? ", " : "")
          << (client.present ? "" : "left the server") << "</text>\n";
      rowY += 16;
    }
    rowY += 2;
  }

  // The legend.
  const double legendX = listX;
  out << "<g font-size=\"12\">"
      << "<circle cx=\"" << legendX + 6 << "\" cy=\"" << legendY << "\" r=\"5\" fill=\"#555\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 4
      << "\">client, last position from the game</text>"
      << "<circle cx=\"" << legendX + 6 << "\" cy=\"" << legendY + 20
      << "\" r=\"9\" fill=\"none\" stroke=\"#c62828\" stroke-width=\"2.5\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 24 << "\">on the RC list</text>"
      << "<circle cx=\"" << legendX + 6 << "\" cy=\"" << legendY + 42
      << "\" r=\"9\" fill=\"none\" stroke=\"#1565c0\" stroke-width=\"2.5\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 46 << "\">on the RL list</text>"
      << "<rect x=\"" << legendX - 2 << "\" y=\"" << legendY + 56
      << "\" width=\"16\" height=\"16\" fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"2\"/>"
      << "<text x=\"" << legendX + 18 << "\" y=\"" << legendY + 68 << "\">the local client</text>"
      << "<text x=\"" << legendX << "\" y=\"" << legendY + 88
      << "\">faint: earlier positions (hover: times)</text>"
      << "<text x=\"" << legendX << "\" y=\"" << legendY + 104
      << "\">dashed: from the ringed last position</text>"
      << "<text x=\"" << legendX << "\" y=\"" << legendY + 118
      << "\">to the origin, at a stale-frame reset</text></g>\n"
      << "</svg>\n";
}

}  // namespace sorlinx::sim
