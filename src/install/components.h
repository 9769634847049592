// The component model: the product's components (features), whether each is
// selected, their sizes and the deleted, hidden and locked side lists, with
// the views the wizard's selection controls are built from. Names compare
// without regard to case; "\" separates the levels of a hierarchy.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/string_list.h"

namespace kyt {

inline constexpr TextView kPredefinedComponent = u"ZEKO-PREDEF-COMPONENT";

class ComponentModel {
 public:
  void clear();

  // Defines or redefines a component. `untranslated` is the path before
  // translation: a translated component keeps the size recorded under it.
  void define(TextView path, bool state, TextView description, TextView untranslated = {});
  bool exists(TextView path) const { return index_of(path) >= 0; }
  int64_t index_of(TextView path) const;
  bool state(TextView path) const;
  void set_state(size_t index, bool state);
  // TRUE when the component exists, is not deleted and is selected.
  bool selected(TextView path) const;

  bool is_deleted(TextView path) const { return deleted_.contains(path); }
  bool is_hidden(TextView path) const { return hidden_.contains(path); }
  bool is_locked(TextView path) const { return locked_.contains(path); }
  // The path or one of its ancestors is in the list.
  bool hidden_in_tree(TextView path) const { return in_tree(hidden_, path); }
  bool locked_in_tree(TextView path) const { return in_tree(locked_, path); }
  void delete_component(TextView path);
  void set_visible(TextView path, bool visible);
  void set_choice(TextView path, bool allowed);

  // 0 when the component has no size entry.
  int64_t size_of(TextView path) const;
  void set_size(TextView path, int64_t size);
  // Selected, not deleted sizes minus the installed-size baseline.
  int64_t additional_space() const;
  int64_t installed_baseline = 0;

  const StringList& components() const { return components_; }
  const StringList& states() const { return states_; }
  const StringList& descriptions() const { return descriptions_; }
  const StringList& size_table() const { return sizes_; }
  const StringList& deleted() const { return deleted_; }
  const StringList& hidden() const { return hidden_; }
  const StringList& locked() const { return locked_; }
  Text description(TextView path) const;

  // Replacing whole lists: the component file does this.
  void replace_lists(StringList components, StringList states, StringList deleted, StringList hidden,
                     StringList locked, std::optional<StringList> sizes);
  // Merging a saved selection: states of components that still exist, and
  // the side lists.
  void merge_lists(const StringList& components, const StringList& states, StringList deleted, StringList hidden,
                   StringList locked);
  void set_size_table(StringList sizes) { sizes_ = std::move(sizes); }

  // The selection tree: one node per path segment. `component` is the
  // component's position counted from 1, 0 for a node that only stands for a
  // segment; `image` is 1 when the component is selected.
  struct TreeNode {
    Text text;
    int image = 0;
    size_t component = 0;
    std::vector<TreeNode> children;
  };
  std::vector<TreeNode> tree() const;
  enum class NodeAction { install_only, install_with_children, remove_with_children, remove_only };
  // Applies a menu action to the node at `path` (indexes into the tree) and
  // updates the images of the nodes it touched.
  void select_node(std::vector<TreeNode>& tree, const std::vector<size_t>& path, NodeAction action);
  // Whether the selection menu is offered for a node.
  bool node_menu_allowed(const TreeNode& node) const;

  struct CheckLine {
    Text text;
    bool checked = false;
  };
  std::vector<CheckLine> check_list() const;
  // The user changed check marks: every component whose path starts with a
  // line's text takes that line's state unless it is locked.
  void check_list_click(std::vector<CheckLine>& lines);

 private:
  static bool in_tree(const StringList& list, TextView path);
  size_t size_entry(TextView path) const;  // position of the size value, or npos
  void set_node(TreeNode& node, bool state, bool recursive);

  StringList components_{true};
  StringList states_;
  StringList descriptions_;
  StringList sizes_;
  StringList deleted_{true};
  StringList hidden_{true};
  StringList locked_{true};
};

}  // namespace kyt
