// What the page may ask of the 3D view, drawn here or on a worker.
export const viewCommands = ['turn', 'zoom', 'resize', 'walkKeys', 'look', 'stopWalking', 'home'];
