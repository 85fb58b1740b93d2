"""The Markdown tables in the report tests' output, read back."""


def tables(lines):
    """Each Markdown table among the lines as a list of {column: cell}."""
    found, head = [], None
    for line in lines:
        if not line.startswith("|"):
            head = None
            continue
        cells = [c.strip() for c in line.strip("|").split("|")]
        if head is None:
            head = cells
            found.append([])
        elif not line.startswith("|--"):
            found[-1].append(dict(zip(head, cells)))
    return found
