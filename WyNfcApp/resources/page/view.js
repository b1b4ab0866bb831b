"use strict";
// Draws the editor's driver: a summary, the settings by group, each value with its label,
// help, unit and state, and the review of the changes before a write. Every text from the
// driver or a file goes in as text, never as markup.
(function (global) {
  const { humanName } = global.WyField;
  const E = global.WyEditor;

  function el(tag, attributes, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attributes || {})) {
      if (value === null || value === undefined || value === false) continue;
      if (key === "text") node.textContent = value;
      else if (key === "className") node.className = value;
      else node.setAttribute(key, value === true ? "" : String(value));
    }
    for (const child of children) if (child) node.appendChild(child);
    return node;
  }

  let nextId = 0;
  const newId = (prefix) => prefix + "-" + (nextId += 1);

  class View {
    constructor(editor, onEdit) {
      this.editor = editor;
      this.onEdit = onEdit;
      this.rows = new Map(); // path -> {row, control, error, note, badge, revert, bitBoxes}
    }

    // The whole driver, from scratch (a new read, new page data).
    render() {
      const groupsNode = document.getElementById("groups");
      groupsNode.textContent = "";
      this.rows.clear();
      this.renderSummary();
      for (const group of this.groups()) {
        const titleId = newId("group-title");
        const section = el("section", { className: "group", id: "group-" + group.id, "aria-labelledby": titleId },
          el("h2", { id: titleId, text: group.title }),
          group.description ? el("p", { className: "group-description", text: group.description }) : null);
        for (const area of group.areas) {
          for (const field of area.fields.values()) section.appendChild(this.fieldRow(field));
        }
        groupsNode.appendChild(section);
      }
      this.refresh();
    }

    // Groups in the catalogue's order, each with the areas read; areas the catalogue does not
    // know come last, each under its own name. The capability list is shown in the summary.
    groups() {
      const areas = this.editor.sortedAreas().filter((a) => a.name !== E.CAPABILITIES);
      const catalogue = this.editor.catalogue;
      const groups = [];
      const placed = new Set();
      for (const group of (catalogue && catalogue.groups) || []) {
        const members = areas.filter((a) => (this.editor.areaEntry(a.name) || {}).group === group.id);
        members.forEach((a) => placed.add(a.name));
        if (members.length) groups.push({ id: group.id, title: group.title, description: group.description, areas: members });
      }
      for (const area of areas) {
        if (placed.has(area.name)) continue;
        const entry = this.editor.areaEntry(area.name);
        groups.push({ id: area.name, title: entry && entry.title ? entry.title : humanName(area.name.replace(/^nfc_data_addr_(dc_)?/, "")), areas: [area] });
      }
      return groups;
    }

    renderSummary() {
      const node = document.getElementById("summary");
      node.textContent = "";
      const driver = this.editor.driver;
      if (!driver) {
        node.appendChild(el("p", { className: "empty", text: "No driver read yet. Lay the driver on the reader and press Read." }));
        return;
      }
      const value = (path) => {
        const f = this.editor.field(path);
        return f ? f.describe(f.original) : null;
      };
      const model = value(E.PROPERTIES + ".model_name");
      node.appendChild(el("h2", { text: model ? "Driver " + model : "Driver" }));
      const facts = el("dl", { className: "facts" });
      const fact = (term, text) => { if (text !== null) facts.append(el("dt", { text: term }), el("dd", { text })); };
      fact("Type", driver.deviceType + " / " + driver.subType);
      fact("Firmware", value(E.IDENTIFICATION + ".firmware_version"));
      fact("Rated power", value(E.PROPERTIES + ".rated_output_power"));
      fact("GTIN", value(E.GTIN + ".gtin"));
      node.appendChild(facts);

      const capabilities = this.editor.areas.get(E.CAPABILITIES);
      if (!capabilities) return;
      const supported = [];
      const missing = [];
      for (const f of capabilities.fields.values()) {
        for (const bit of f.bits) (f.bitValue(bit.name, f.original) ? supported : missing).push(bit.label);
      }
      node.appendChild(el("h3", { text: "This driver supports" }));
      const list = el("ul", { className: "capabilities", "aria-label": "Supported features" });
      for (const label of supported) list.appendChild(el("li", { text: label }));
      if (!supported.length) list.appendChild(el("li", { className: "none", text: "No optional features" }));
      node.appendChild(list);
      if (missing.length) {
        node.appendChild(el("p", { className: "not-supported", text: "Not supported: " + missing.join(", ") + "." }));
      }
    }

    fieldRow(field) {
      const id = newId("field");
      const helpId = id + "-help";
      const errorId = id + "-error";
      const row = el("div", { className: "field kind-" + field.kind + (field.editable ? "" : " readonly") });
      const parts = { row, field };
      const described = [field.help || this.rangeHint(field) ? helpId : null, errorId].filter(Boolean).join(" ");

      if (field.editable && field.kind === "bits") {
        const set = el("fieldset", { "aria-describedby": described });
        set.appendChild(el("legend", { text: field.label }));
        if (field.help) set.appendChild(el("p", { className: "help", id: helpId, text: field.help }));
        parts.bitBoxes = new Map();
        for (const bit of field.bits) {
          const boxId = newId("bit");
          const box = el("input", { type: "checkbox", id: boxId, role: "switch", "data-path": field.path + "." + bit.name,
            "aria-describedby": bit.help ? boxId + "-help" : null });
          box.addEventListener("change", () => { field.setBit(bit.name, box.checked); this.onEdit(field); });
          set.appendChild(el("div", { className: "switch" }, box, el("label", { for: boxId, text: bit.label }),
            bit.help ? el("span", { id: boxId + "-help", className: "bit-help", text: bit.help }) : null));
          parts.bitBoxes.set(bit.name, box);
        }
        row.appendChild(set);
      } else {
        row.appendChild(el(field.editable ? "label" : "span", { className: "label", for: field.editable ? id : null, id: id + "-label", text: field.label }));
        const control = el("div", { className: "control" });
        if (!field.editable) {
          parts.output = el("output", { "data-path": field.path, "data-readonly": true, "aria-labelledby": id + "-label" });
          control.appendChild(parts.output);
        } else if (field.kind === "choice") {
          parts.control = el("select", { id, "data-path": field.path, "aria-describedby": described });
          parts.control.addEventListener("change", () => { field.setInput(parts.control.value); this.onEdit(field); });
          control.appendChild(parts.control);
        } else {
          parts.control = el("input", { id, type: "text", "data-path": field.path, "aria-describedby": described,
            autocomplete: "off", spellcheck: "false",
            inputmode: field.kind === "number" || field.kind === "bigint" ? "numeric" : null });
          parts.control.addEventListener("input", () => { field.setInput(parts.control.value); this.onEdit(field); });
          control.appendChild(parts.control);
        }
        if (field.editable && field.unit && field.kind !== "choice") control.appendChild(el("span", { className: "unit", text: field.unit }));
        // A number kept in steps of its own (0.1 %) also reads as a person would say it.
        if (field.editable && field.kind === "number" && field.entry && field.entry.display) {
          parts.reading = el("span", { className: "reading", "aria-live": "polite" });
          control.appendChild(parts.reading);
        }
        row.appendChild(control);
      }
      const hint = [field.help, this.rangeHint(field)].filter(Boolean).join(" ");
      if (hint && !parts.bitBoxes) row.appendChild(el("p", { className: "help", id: helpId, text: hint }));
      parts.note = el("p", { className: "note", hidden: true });
      parts.error = el("p", { className: "error", id: errorId, hidden: true });
      row.append(parts.note, parts.error);
      if (field.editable) {
        parts.badge = el("span", { className: "badge", text: "Changed", hidden: true });
        parts.revert = el("button", { type: "button", className: "revert", hidden: true, text: "Revert" });
        parts.revert.addEventListener("click", () => {
          field.revert();
          this.onEdit(field, { reverted: true });
          const target = parts.control || (parts.bitBoxes && parts.bitBoxes.values().next().value);
          if (target) target.focus();
        });
        row.appendChild(el("div", { className: "marks" }, parts.badge, parts.revert));
      }
      this.rows.set(field.path, parts);
      return row;
    }

    rangeHint(field) {
      if (!field.editable) return "";
      const unit = field.unit ? " " + field.unit : "";
      if (field.kind === "number") {
        const { min, max, special } = field.limits();
        const specials = Object.keys(special).map((k) => k + " = " + special[k]);
        return "Allowed: " + min + " to " + max + unit + (specials.length ? "; " + specials.join("; ") : "") + ".";
      }
      if (field.kind === "hex") return "Exactly " + field.byteCount + " bytes in hexadecimal, such as 0A FF.";
      if (field.kind === "text") return "Up to " + field.byteCount + " characters.";
      if (field.kind === "bigint") return "Digits only.";
      return "";
    }

    // Brings every value's control and marks up to date with the editor.
    refresh() {
      for (const parts of this.rows.values()) this.refreshRow(parts);
    }

    refreshRow(parts) {
      const field = parts.field;
      if (parts.output) parts.output.textContent = field.describe(field.original);
      if (parts.reading) parts.reading.textContent = field.current === null ? "" : "= " + field.reading(field.current);
      if (parts.control) {
        if (parts.control.tagName === "SELECT") this.fillChoices(parts.control, field);
        else if (parts.control.value !== field.input) parts.control.value = field.input;
        parts.control.setAttribute("aria-invalid", field.error ? "true" : "false");
      }
      if (parts.bitBoxes) {
        for (const [name, box] of parts.bitBoxes) box.checked = field.bitValue(name);
      }
      const changed = field.editable && field.changed;
      parts.row.classList.toggle("changed", changed);
      parts.row.classList.toggle("invalid", !!field.error);
      if (parts.badge) {
        parts.badge.hidden = !changed;
        parts.revert.hidden = !changed;
        parts.revert.setAttribute("aria-label", "Revert " + field.label + " to " + field.describe(field.original));
        parts.badge.textContent = "Changed from " + field.describe(field.original);
      }
      parts.error.hidden = !field.error;
      parts.error.textContent = field.error || "";
      parts.note.hidden = !field.note;
      parts.note.textContent = field.note || "";
    }

    fillChoices(select, field) {
      const choices = (field.entry && field.entry.choices) || {};
      const values = Object.keys(choices);
      const wanted = [...values];
      const original = String(field.original);
      if (!values.includes(original)) wanted.push(original);
      const current = field.current === null ? field.input : String(field.current);
      if (!wanted.includes(current)) wanted.push(current);
      if (select.options.length !== wanted.length) {
        select.textContent = "";
        for (const value of wanted) {
          const label = Object.prototype.hasOwnProperty.call(choices, value) ? choices[value] : value + " (not a listed setting)";
          select.appendChild(el("option", { value, text: label }));
        }
      }
      select.value = current;
    }

    // The review: each change as old -> new, grouped as on the page.
    renderReview(listNode) {
      listNode.textContent = "";
      for (const group of this.groups()) {
        const changed = [];
        for (const area of group.areas) for (const f of area.fields.values()) if (f.editable && f.changed) changed.push(f);
        if (!changed.length) continue;
        const items = el("ul");
        for (const f of changed) {
          items.appendChild(el("li", { "data-path": f.path },
            el("span", { className: "review-label", text: f.label + ": " }),
            el("span", { className: "old", text: f.describe(f.original) }),
            el("span", { className: "arrow", "aria-label": " changes to ", text: " \u2192 " }),
            el("span", { className: "new", text: f.describe(f.current) })));
        }
        listNode.append(el("h3", { text: group.title }), items);
      }
    }

    focusField(path) {
      const parts = this.rows.get(path);
      const target = parts && (parts.control || (parts.bitBoxes && parts.bitBoxes.values().next().value));
      if (target) {
        target.scrollIntoView({ block: "center" });
        target.focus();
      }
    }
  }

  global.WyView = { View, el };
})(window);
