#!/usr/bin/env python3
"""Writes light.qss and dark.qss from template.qss.

Both sheets come from the same template so that they carry the same selectors
in the same order and differ only in colours (and the matching arrow image).
Run it after editing the template and commit the two sheets with it.
"""
import pathlib
import re

HERE = pathlib.Path(__file__).resolve().parent

PALETTES = {
    "light": {
        "window": "#F8FAFC",
        "text": "#1E293B",
        "surface": "#FFFFFF",
        "border": "#E2E8F0",
        "hoverBorder": "#CBD5E1",
        "buttonHoverBorder": "#CBD5E1",
        "subtle": "#F1F5F9",
        "subtlePressed": "#E2E8F0",
        "accent": "#2563EB",
        "accentHover": "#1D4ED8",
        "accentPressed": "#1E40AF",
        "muted": "#64748B",
        "disabled": "#94A3B8",
        "primaryDisabled": "#93C5FD",
        "primaryDisabledText": "#FFFFFF",
        "scrollHandle": "#CBD5E1",
        "scrollHandleHover": "#94A3B8",
        "tooltip": "#1E293B",
        "tooltipText": "#FFFFFF",
        "tooltipBorder": "#1E293B",
        "connectedBorder": "#10B981",
        "connectedBackground": "#F0FDF4",
        "connectingBorder": "#F59E0B",
        "connectingBackground": "#FFFBEB",
        "errorBorder": "#EF4444",
        "errorBackground": "#FEF2F2",
        "chevron": ":/icons/chevron-down.svg",
    },
    "dark": {
        "window": "#0F172A",
        "text": "#F1F5F9",
        "surface": "#1E293B",
        "border": "#334155",
        "hoverBorder": "#475569",
        "buttonHoverBorder": "#64748B",
        "subtle": "#334155",
        "subtlePressed": "#475569",
        "accent": "#3B82F6",
        "accentHover": "#2563EB",
        "accentPressed": "#1D4ED8",
        "muted": "#94A3B8",
        "disabled": "#475569",
        "primaryDisabled": "#1E3A8A",
        "primaryDisabledText": "#94A3B8",
        "scrollHandle": "#475569",
        "scrollHandleHover": "#64748B",
        "tooltip": "#334155",
        "tooltipText": "#F1F5F9",
        "tooltipBorder": "#475569",
        "connectedBorder": "#22C55E",
        "connectedBackground": "#052E16",
        "connectingBorder": "#FBBF24",
        "connectingBackground": "#422006",
        "errorBorder": "#F87171",
        "errorBackground": "#450A0A",
        "chevron": ":/icons/chevron-down-dark.svg",
    },
}


def main():
    template = (HERE / "template.qss").read_text(encoding="utf-8")
    for name, palette in PALETTES.items():
        values = dict(palette, name=name)

        def substitute(match):
            return values[match.group(1)]

        sheet = re.sub(r"\{\{(\w+)\}\}", substitute, template)
        (HERE / f"{name}.qss").write_text(sheet, encoding="utf-8")


if __name__ == "__main__":
    main()
