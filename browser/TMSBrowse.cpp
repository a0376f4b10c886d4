#include "TMSBrowse.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <utility>

#include "BrowserSettings.h"

namespace velt {

namespace {

constexpr PointKind kKinds[] = {PointKind::Status, PointKind::Analog, PointKind::Accum};

const char* Caption(PointKind kind) {
  switch (kind) {
    case PointKind::Status:
      return kStatusCaption;
    case PointKind::Analog:
      return kAnalogCaption;
    case PointKind::Accum:
      return kAccumCaption;
    case PointKind::Meter:
      break;
  }
  return "";
}

uint16_t ClassCode(PointKind kind) {
  switch (kind) {
    case PointKind::Status:
      return kClassStatus;
    case PointKind::Analog:
      return kClassAnalog;
    case PointKind::Accum:
    case PointKind::Meter:
      return kClassAccum;
  }
  return 0;
}

TmBatchRequest EnumRequest(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point) {
  TmBatchRequest q = ObjectRequest(TmBatchRequest::Kind::EnumObjects, cls, ch, rtu, point);
  q.max = TfrmTMSBrowse::kBatch;
  return q;
}

TmBatchRequest NameRequest(uint16_t cls, uint16_t ch, uint16_t rtu, uint16_t point) {
  TmBatchRequest q = ObjectRequest(TmBatchRequest::Kind::GetObjectName, cls, ch, rtu, point);
  q.size = TfrmTMSBrowse::kNameSize;
  return q;
}

}  // namespace

std::string BuildSelectionText(const std::vector<ListItem>& items, std::vector<int> selectedRows,
                               bool appendAddress, bool appendName) {
  std::sort(selectedRows.begin(), selectedRows.end());
  selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
  std::string text;
  for (int row : selectedRows) {
    if (row < 0 || static_cast<size_t>(row) >= items.size()) continue;
    const ListItem& item = items[static_cast<size_t>(row)];
    std::string line;
    if (appendAddress) line = item.address;
    if (appendAddress && appendName) line += '\t';
    if (appendName) line += item.caption;
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

bool DragWanted(const MouseState& mouse, Point start, Point now) {
  if (!mouse.left || mouse.right || mouse.middle || mouse.shift || mouse.ctrl || mouse.alt) {
    return false;
  }
  return std::abs(now.x - start.x) > 10 || std::abs(now.y - start.y) > 10;
}

bool PressMayDragSelection(const MouseState& mouse, bool onSelectedRow) {
  return onSelectedRow && mouse.left && !mouse.right && !mouse.middle && !mouse.shift &&
         !mouse.ctrl && !mouse.alt;
}

std::string SearchTextFromDrop(const std::string& dropped) {
  return dropped.substr(0, dropped.find_first_of("\r\n"));
}

TfrmTMSBrowse::TfrmTMSBrowse(TmOperations& tm, BrowserView& view, BrowserSettingsStore& settings,
                             PanelFont defaultFont)
    : tm_(tm), view_(view), settings_(settings), font_(std::move(defaultFont)) {}

NodeId TfrmTMSBrowse::AddNode(NodeId parent, const std::string& caption, uint16_t number) {
  const auto id = static_cast<NodeId>(nodes_.size());
  TreeNode node;
  node.caption = caption;
  node.number = number;
  node.parent = parent;
  if (parent == kNoNode) {
    roots_.push_back(id);
  } else {
    node.level = nodes_[static_cast<size_t>(parent)].level + 1;
    nodes_[static_cast<size_t>(parent)].children.push_back(id);
  }
  nodes_.push_back(std::move(node));
  view_.AddTreeNode(id, parent, caption);
  return id;
}

std::optional<PointKind> TfrmTMSBrowse::KindOf(NodeId id) const {
  if (id < 0 || static_cast<size_t>(id) >= nodes_.size()) return std::nullopt;
  const TreeNode& node = nodes_[static_cast<size_t>(id)];
  if (node.level != 3 || !node.children.empty()) return std::nullopt;
  for (PointKind kind : kKinds) {
    if (node.caption == Caption(kind)) return kind;
  }
  return std::nullopt;
}

std::vector<TmBatchAnswer> TfrmTMSBrowse::Fetch(std::span<const TmBatchRequest> requests) {
  std::vector<TmBatchAnswer> answers(requests.size());
  if (!requests.empty()) tm_.tmaBatch(requests, answers);
  return answers;
}

std::vector<std::vector<uint16_t>> TfrmTMSBrowse::EnumerateAll(uint16_t cls,
                                                               std::span<const Owner> owners,
                                                               EnumerationBudget* budget) {
  std::vector<std::vector<uint16_t>> lists(owners.size());
  std::vector<uint16_t> starts(owners.size(), 1);
  std::vector<size_t> open(owners.size());
  for (size_t i = 0; i < open.size(); ++i) open[i] = i;
  std::vector<TmBatchRequest> requests;
  while (!open.empty()) {
    requests.clear();
    for (const size_t i : open) {
      const Owner& owner = owners[i];
      requests.push_back(cls == kClassRtu ? EnumRequest(cls, owner.ch, starts[i], 0)
                                          : EnumRequest(cls, owner.ch, owner.rtu, starts[i]));
    }
    const std::vector<TmBatchAnswer> answers = Fetch(requests);
    std::vector<size_t> again;
    for (size_t k = 0; k < open.size(); ++k) {
      const size_t i = open[k];
      const std::vector<uint16_t>& numbers = answers[k].numbers;
      size_t count = std::min<size_t>(answers[k].result & 0xFFu, numbers.size());
      // Past the budget a list ends where it stands: a short batch ends it.
      if (budget != nullptr) count = budget->Take(count);
      lists[i].insert(lists[i].end(), numbers.begin(),
                      numbers.begin() + static_cast<std::ptrdiff_t>(count));
      if (count != kBatch) continue;
      const uint16_t last = numbers[count - 1];
      // The next start would wrap to 0 and begin again; a server that does not move forward
      // would keep the window busy for ever.
      if (last == 0xFFFF || last < starts[i]) continue;
      starts[i] = static_cast<uint16_t>(last + 1);
      again.push_back(i);
    }
    open = std::move(again);
  }
  return lists;
}

void TfrmTMSBrowse::StepProgress() {
  progress_ = progress_ >= kProgressMax ? 0 : progress_ + 1;
  view_.SetProgress(progress_);
}

void TfrmTMSBrowse::ResetProgress() {
  progress_ = 0;
  view_.SetProgress(0);
}

void TfrmTMSBrowse::ReloadClick() {
  view_.SetBusy(true);
  view_.BeginTreeUpdate();
  view_.ClearTree();
  nodes_.clear();
  roots_.clear();
  lastListedNode_ = kNoNode;

  // Level by level, each level's requests in one batch so that they travel together: the
  // channel list, the channels' names, the named channels' RTU lists, the RTUs' names. The tree
  // is then built in enumeration order.
  const TmBatchRequest channelList = EnumRequest(kClassChannel, 0, 0, 0);
  const TmBatchAnswer channelAnswer = std::move(Fetch({&channelList, 1})[0]);
  const size_t count = std::min<size_t>(channelAnswer.result & 0xFFu, channelAnswer.numbers.size());
  std::vector<TmBatchRequest> requests;
  for (size_t i = 0; i < count; ++i) {
    requests.push_back(NameRequest(kClassChannel, channelAnswer.numbers[i], 0, 0));
  }
  std::vector<TmBatchAnswer> answers = Fetch(requests);
  std::vector<Owner> channels;
  std::vector<std::string> channelNames;
  for (size_t i = 0; i < answers.size(); ++i) {
    if (answers[i].named != kTmaTrue) continue;  // left out with its RTUs
    channels.push_back({requests[i].ch, 0});
    channelNames.push_back(std::move(answers[i].name));
  }
  EnumerationBudget budget;
  const std::vector<std::vector<uint16_t>> rtus = EnumerateAll(kClassRtu, channels, &budget);
  listsCut_ = budget.Cut();
  requests.clear();
  for (size_t i = 0; i < channels.size(); ++i) {
    for (const uint16_t rtu : rtus[i]) {
      requests.push_back(NameRequest(kClassRtu, channels[i].ch, rtu, 0));
    }
  }
  answers = Fetch(requests);

  size_t next = 0;
  for (size_t i = 0; i < channels.size(); ++i) {
    const NodeId channelNode = AddNode(kNoNode, channelNames[i], channels[i].ch);
    StepProgress();
    for (const uint16_t rtu : rtus[i]) {
      const TmBatchAnswer& answer = answers[next++];
      if (answer.named != kTmaTrue) continue;  // left out with its kind nodes
      const NodeId rtuNode = AddNode(channelNode, answer.name, rtu);
      StepProgress();
      for (PointKind kind : kKinds) AddNode(rtuNode, Caption(kind), 0);
    }
  }
  if (listsCut_) AddNode(kNoNode, kCutCaption, 0);

  view_.EndTreeUpdate();
  ResetProgress();
  view_.ClearList();
  items_.clear();
  view_.SetBusy(false);
}

void TfrmTMSBrowse::HETreeView1Click() {
  const NodeId node = view_.SelectedTreeNode();
  if (node == kNoNode || node == lastListedNode_) return;
  view_.SetBusy(true);
  view_.ClearList();
  items_.clear();
  view_.BeginListUpdate();
  if (const auto kind = KindOf(node)) {
    lastListedNode_ = node;
    const TreeNode& rtuNode = nodes_[static_cast<size_t>(nodes_[static_cast<size_t>(node)].parent)];
    const uint16_t rtu = rtuNode.number;
    const uint16_t ch = nodes_[static_cast<size_t>(rtuNode.parent)].number;
    const uint16_t cls = ClassCode(*kind);
    const std::string& format = *kind == PointKind::Status   ? StatusFormat
                                : *kind == PointKind::Analog ? AnalogFormat
                                                             : AccumFormat;
    const Owner owner{ch, rtu};
    EnumerationBudget budget;
    const std::vector<uint16_t> points = std::move(EnumerateAll(cls, {&owner, 1}, &budget)[0]);
    listsCut_ = budget.Cut();
    std::vector<TmBatchRequest> requests;
    for (const uint16_t point : points) requests.push_back(NameRequest(cls, ch, rtu, point));
    std::vector<TmBatchAnswer> answers = Fetch(requests);
    for (size_t i = 0; i < points.size(); ++i) {
      StepProgress();
      if (answers[i].named != kTmaTrue) continue;
      view_.AddListItem(answers[i].name);
      items_.push_back(
          {std::move(answers[i].name), points[i], ApplyAddressFormat(format, ch, rtu, points[i])});
    }
  } else {
    lastListedNode_ = kNoNode;
  }
  view_.EndListUpdate();
  ResetProgress();
  view_.SetBusy(false);
}

void TfrmTMSBrowse::FindButtonClick(const std::string& searchText) {
  const auto address = ParseAddress(searchText);
  if (!address) return;
  const auto childNumbered = [this](const std::vector<NodeId>& ids, int32_t number) {
    const auto it = std::find_if(ids.begin(), ids.end(), [&](NodeId id) {
      return nodes_[static_cast<size_t>(id)].number == number;
    });
    return it == ids.end() ? kNoNode : *it;
  };
  const NodeId channel = childNumbered(roots_, address->channel);
  if (channel == kNoNode) return;
  const NodeId rtu = childNumbered(nodes_[static_cast<size_t>(channel)].children, address->rtu);
  if (rtu == kNoNode) return;
  view_.MakeTreeNodeVisible(rtu);
  view_.ExpandTreeNode(rtu);
  const auto& kinds = nodes_[static_cast<size_t>(rtu)].children;
  const auto kindNode = std::find_if(kinds.begin(), kinds.end(),
                                     [&](NodeId id) { return KindOf(id) == address->kind; });
  if (kindNode == kinds.end()) return;
  view_.SelectTreeNode(*kindNode);
  HETreeView1Click();
  const auto item = std::find_if(items_.begin(), items_.end(), [&](const ListItem& listItem) {
    return listItem.number == address->point;
  });
  if (item != items_.end()) view_.SelectOnlyListItem(static_cast<int>(item - items_.begin()));
  view_.FocusList();
}

void TfrmTMSBrowse::ChangeFontClick() {
  if (auto chosen = view_.ChooseFont(font_)) {
    font_ = std::move(*chosen);
    view_.SetPanelFont(font_);
  }
  view_.ArrangeList();
}

std::string TfrmTMSBrowse::BuildSelectionText() const {
  return velt::BuildSelectionText(items_, view_.SelectedListItems(), appendAddress_, appendName_);
}

void TfrmTMSBrowse::ListView1DblClick() {
  const std::string text = BuildSelectionText();
  if (!text.empty()) view_.PutOnClipboard(text);
}

bool TfrmTMSBrowse::ListView1MouseMove(Point position, int row, const MouseState& mouse) {
  const bool over = row >= 0 && static_cast<size_t>(row) < items_.size();
  view_.SetListToolTip(over ? items_[static_cast<size_t>(row)].address : std::string());
  if (!DragWanted(mouse, DragStartPoint, position)) return false;
  if (view_.SelectedListItems().empty()) return false;
  const std::string text = BuildSelectionText();
  if (text.empty()) return false;
  view_.RunTextDrag(text);
  return true;
}

void TfrmTMSBrowse::SetStayOnTop(bool on) {
  stayOnTop_ = on;
  view_.SetStayOnTop(on);
}

void TfrmTMSBrowse::DropTextTarget1Drop(const std::string& text) {
  view_.SetSearchText(SearchTextFromDrop(text));
}

void TfrmTMSBrowse::FormShow() {
  shownSinceClose_ = true;
  ReadSettings();
  if (nodes_.empty()) view_.PostReload();
}

void TfrmTMSBrowse::FormClose() {
  if (!shownSinceClose_) return;
  WriteSettings(false);
  shownSinceClose_ = false;
}

void TfrmTMSBrowse::FormDestroy() {
  if (!shownSinceClose_) return;
  WriteSettings(true);
  shownSinceClose_ = false;
}

void TfrmTMSBrowse::ReadSettings() {
  const ScreenInfo screen = view_.Screen();
  if (auto placement = ReadPlacement(settings_, screen, view_.Placement())) {
    view_.SetPlacement(*placement);
  }
  font_ = ReadFont(settings_, font_, screen.pixelsPerInch);
  view_.SetPanelFont(font_);
  if (auto width = ReadInteger(settings_, kTreeWidthKey); width && *width >= 0) {
    view_.SetTreeWidth(*width);
  }
  if (auto on = ReadBoolean(settings_, kAppendNameKey)) appendName_ = *on;
  if (auto on = ReadBoolean(settings_, kAppendAddressKey)) appendAddress_ = *on;
  view_.ShowOptions(appendAddress_, appendName_);
  if (auto on = ReadBoolean(settings_, kStayOnTopKey)) stayOnTop_ = *on;
  view_.SetStayOnTop(stayOnTop_);
}

void TfrmTMSBrowse::WriteSettings(bool destroying) {
  const ScreenInfo screen = view_.Screen();
  WritePlacement(settings_, screen, view_.Placement(), destroying);
  WriteFont(settings_, font_, screen.pixelsPerInch);
  settings_.Write(kTreeWidthKey, std::to_string(view_.TreeWidth()));
  settings_.Write(kAppendNameKey, BooleanText(appendName_));
  settings_.Write(kAppendAddressKey, BooleanText(appendAddress_));
  settings_.Write(kStayOnTopKey, BooleanText(stayOnTop_));
}

}  // namespace velt
