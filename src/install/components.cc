#include "install/components.h"

namespace kyt {

void ComponentModel::clear() {
  components_.clear();
  states_.clear();
  descriptions_.clear();
  sizes_.clear();
  deleted_.clear();
  hidden_.clear();
  locked_.clear();
  installed_baseline = 0;
}

int64_t ComponentModel::index_of(TextView path) const {
  size_t i = components_.index_of(path);
  return i == StringList::npos ? -1 : static_cast<int64_t>(i);
}

bool ComponentModel::state(TextView path) const {
  int64_t i = index_of(path);
  return i >= 0 && is_true(states_.at_or_empty(static_cast<size_t>(i)));
}

bool ComponentModel::selected(TextView path) const { return state(path) && !is_deleted(path); }

void ComponentModel::set_state(size_t index, bool value) {
  if (index < states_.size()) states_.set(index, bool_text(value));
}

// Keys stand at even positions of the size table; a size value is never
// taken for a key.
size_t ComponentModel::size_entry(TextView path) const {
  for (size_t i = 0; i + 1 < sizes_.size(); i += 2)
    if (equals_ignore_case(sizes_[i], path)) return i + 1;
  return StringList::npos;
}

int64_t ComponentModel::size_of(TextView path) const {
  size_t at = size_entry(path);
  return at == StringList::npos ? 0 : parse_int64(sizes_[at]).value_or(0);
}

void ComponentModel::set_size(TextView path, int64_t size) {
  size_t at = size_entry(path);
  if (at != StringList::npos) {
    sizes_.set(at, decimal(size));
  } else {
    sizes_.add(Text(path));
    sizes_.add(decimal(size));
  }
}

void ComponentModel::define(TextView path, bool state, TextView description, TextView untranslated) {
  if (!untranslated.empty() && !equals_ignore_case(untranslated, path)) {
    int64_t size = size_of(untranslated);
    if (size != 0) {
      sizes_.add(Text(path));
      sizes_.add(decimal(size));
    }
  }
  int64_t existing = index_of(path);
  size_t index = existing >= 0 ? static_cast<size_t>(existing) : components_.size();
  if (existing >= 0) {
    if (size_t d = deleted_.index_of(path); d != StringList::npos) deleted_.erase(d);
  } else {
    components_.add(Text(path));
  }
  while (descriptions_.size() <= index) descriptions_.add(u"");
  descriptions_.set(index, Text(description));
  if (size_entry(path) == StringList::npos) {
    sizes_.add(Text(path));
    sizes_.add(u"0");
  }
  if (existing < 0) states_.add(bool_text(state));
  else if (states_.at_or_empty(index).empty()) states_.set(index, bool_text(state));
}

Text ComponentModel::description(TextView path) const {
  int64_t i = index_of(path);
  return i < 0 ? Text() : descriptions_.at_or_empty(static_cast<size_t>(i));
}

void ComponentModel::delete_component(TextView path) {
  if (exists(path) && !is_deleted(path)) deleted_.add(Text(path));
}

void ComponentModel::set_visible(TextView path, bool visible) {
  if (visible) {
    if (size_t i = hidden_.index_of(path); i != StringList::npos) hidden_.erase(i);
  } else if (exists(path) && !is_hidden(path)) {
    hidden_.add(Text(path));
  }
}

void ComponentModel::set_choice(TextView path, bool allowed) {
  if (allowed) {
    if (size_t i = locked_.index_of(path); i != StringList::npos) locked_.erase(i);
  } else if (exists(path) && !is_locked(path)) {
    locked_.add(Text(path));
  }
}

bool ComponentModel::in_tree(const StringList& list, TextView path) {
  while (true) {
    if (list.contains(path)) return true;
    size_t slash = path.rfind(u'\\');
    if (slash == TextView::npos) return false;
    path = path.substr(0, slash);
  }
}

int64_t ComponentModel::additional_space() const {
  int64_t total = 0;
  for (size_t i = 0; i < components_.size(); ++i)
    if (is_true(states_.at_or_empty(i)) && !is_deleted(components_[i]))
      total = static_cast<int64_t>(static_cast<uint64_t>(total) + static_cast<uint64_t>(size_of(components_[i])));
  return static_cast<int64_t>(static_cast<uint64_t>(total) - static_cast<uint64_t>(installed_baseline));
}

void ComponentModel::replace_lists(StringList components, StringList states, StringList deleted, StringList hidden,
                                   StringList locked, std::optional<StringList> sizes) {
  components_ = std::move(components);
  components_.set_hashed(true);
  states_ = std::move(states);
  // The state list stays parallel to the component list.
  while (states_.size() < components_.size()) states_.add(u"FALSE");
  while (states_.size() > components_.size()) states_.erase(states_.size() - 1);
  while (descriptions_.size() < components_.size()) descriptions_.add(u"");
  deleted_ = std::move(deleted);
  hidden_ = std::move(hidden);
  locked_ = std::move(locked);
  for (StringList* list : {&deleted_, &hidden_, &locked_}) list->set_hashed(true);
  if (sizes) sizes_ = std::move(*sizes);
}

void ComponentModel::merge_lists(const StringList& components, const StringList& states, StringList deleted,
                                 StringList hidden, StringList locked) {
  for (size_t i = 0; i < components.size(); ++i) {
    for (size_t j = 0; j < components_.size(); ++j)
      if (equals_ignore_case(components_[j], components[i])) states_.set(j, states.at_or_empty(i));
  }
  deleted_ = std::move(deleted);
  hidden_ = std::move(hidden);
  locked_ = std::move(locked);
  for (StringList* list : {&deleted_, &hidden_, &locked_}) list->set_hashed(true);
}

std::vector<ComponentModel::TreeNode> ComponentModel::tree() const {
  std::vector<TreeNode> roots;
  for (size_t i = 0; i < components_.size(); ++i) {
    const Text& path = components_[i];
    if (equals_ignore_case(path, kPredefinedComponent) || is_deleted(path) || is_hidden(path) || hidden_in_tree(path))
      continue;
    std::vector<TreeNode>* level = &roots;
    TreeNode* node = nullptr;
    size_t start = 0;
    while (true) {
      size_t slash = path.find(u'\\', start);
      Text segment = path.substr(start, slash == Text::npos ? Text::npos : slash - start);
      node = nullptr;
      for (auto& candidate : *level)
        if (equals_ignore_case(candidate.text, segment)) {
          node = &candidate;
          break;
        }
      if (!node) {
        level->push_back({segment, 0, 0, {}});
        node = &level->back();
      }
      if (slash == Text::npos) break;
      level = &node->children;
      start = slash + 1;
    }
    node->image = is_true(states_.at_or_empty(i)) ? 1 : 0;
    node->component = i + 1;
  }
  return roots;
}

bool ComponentModel::node_menu_allowed(const TreeNode& node) const {
  return node.component != 0 && !locked_in_tree(components_[node.component - 1]);
}

void ComponentModel::set_node(TreeNode& node, bool value, bool recursive) {
  if (node.component) {
    set_state(node.component - 1, value);
    node.image = value ? 1 : 0;
  }
  if (!recursive) return;
  for (auto& child : node.children) {
    if (child.component && locked_in_tree(components_[child.component - 1])) continue;
    set_node(child, value, true);
  }
}

void ComponentModel::select_node(std::vector<TreeNode>& tree, const std::vector<size_t>& path, NodeAction action) {
  std::vector<TreeNode*> chain;
  std::vector<TreeNode>* level = &tree;
  for (size_t index : path) {
    if (index >= level->size()) return;
    chain.push_back(&(*level)[index]);
    level = &chain.back()->children;
  }
  if (chain.empty()) return;
  TreeNode& node = *chain.back();
  switch (action) {
    case NodeAction::install_only:
    case NodeAction::install_with_children:
      set_node(node, true, action == NodeAction::install_with_children);
      for (size_t i = 0; i + 1 < chain.size(); ++i) set_node(*chain[i], true, false);
      break;
    case NodeAction::remove_with_children:
      set_node(node, false, true);
      break;
    case NodeAction::remove_only:
      set_node(node, false, false);
      break;
  }
}

std::vector<ComponentModel::CheckLine> ComponentModel::check_list() const {
  std::vector<CheckLine> lines;
  for (size_t i = 0; i < components_.size(); ++i) {
    const Text& path = components_[i];
    if (path.find(u'\\') != Text::npos || equals_ignore_case(path, kPredefinedComponent) || is_deleted(path) ||
        is_hidden(path))
      continue;
    lines.push_back({path, is_true(states_.at_or_empty(i))});
  }
  return lines;
}

void ComponentModel::check_list_click(std::vector<CheckLine>& lines) {
  for (auto& line : lines) {
    Text prefix = to_upper(line.text);
    Text value = bool_text(line.checked);
    for (size_t i = 0; i < components_.size(); ++i) {
      if (!to_upper(components_[i]).starts_with(prefix)) continue;
      if (!locked_in_tree(components_[i])) states_.set(i, value);
      if (line.text.find(u'\\') == Text::npos) line.checked = is_true(states_[i]);
    }
  }
}

}  // namespace kyt
